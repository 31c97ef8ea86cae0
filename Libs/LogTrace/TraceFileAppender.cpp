#include "TraceFileAppender.h"

#include <log4cplus/spi/factory.h>
#include <log4cplus/spi/loggingevent.h>

#include <memory>

namespace zor {

TraceFileAppender::TraceFileAppender(const log4cplus::helpers::Properties& properties)
    : RollingFileAppender(properties) {}

TraceFileAppender::~TraceFileAppender() {
    destructorImpl();
}

// Called with the appender's lock held, like every append.
void TraceFileAppender::append(const log4cplus::spi::InternalLoggingEvent& event) {
    if (useLockFile) {
        // Another process may have written or rolled the file meanwhile.
        RollingFileAppender::append(event);
        return;
    }
    FileAppender::append(event);
    // The layout adds its own text and a line end to the message: the check
    // comes no later than after kCheckBytes written.
    m_unchecked += event.getMessage().size() + 1;
    if (m_unchecked < kCheckBytes) return;
    m_unchecked = 0;
    if (out.tellp() > maxFileSize) rollover(true);
}

}  // namespace zor

void RegisterTraceFileAppender() {
    using Factory =
        log4cplus::spi::FactoryTempl<zor::TraceFileAppender, log4cplus::spi::AppenderFactory>;
    log4cplus::spi::getAppenderFactoryRegistry().put(
        std::make_unique<Factory>(LOG4CPLUS_TEXT(zor::TraceFileAppender::kTypeName)));
}
