// Windows tests that run under Wine: what differs there from Windows.
#pragma once

namespace cport::test {

// True when the program runs under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();

} // namespace cport::test

// Ends a test that pins down Windows behaviour which Wine does not have, when it runs under
// Wine, with the reason in one line. The test's assertions, after it, are Windows' behaviour.
#define QUENDAL_NOT_UNDER_WINE(AReason)                                                            \
    if (::cport::test::RunningUnderWine()) GTEST_SKIP() << "not applicable under Wine: " << AReason
