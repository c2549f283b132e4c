#include "ReportText.h"

#include "CPortErrors.h"
#include "MainThread.h"

namespace cport {

std::string ReportText(std::exception_ptr AError) {
    std::string text = TMainThread::ExceptionMessage(AError);
    try {
        std::rethrow_exception(AError);
    } catch (const EComPort& e) {
        if (!e.Reason().empty()) text += "\n" + e.Reason();
    } catch (...) {
    }
    return text;
}

} // namespace cport
