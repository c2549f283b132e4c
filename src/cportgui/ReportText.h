// The text of the application's exception report, the same in every GUI side of the component.
#pragma once

#include <exception>
#include <string>

namespace cport {

// What the report shows: the exception's message and, for a component error whose system call
// failed, the reason in the user's words on a second line ("No such file or directory").
std::string ReportText(std::exception_ptr AError);

} // namespace cport
