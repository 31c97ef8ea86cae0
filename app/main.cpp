// The process entry: logging, the application object, the main window (whose
// constructor is the start-up), the event loop, and the orderly end.

#include <ace/OS_main.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include <QApplication>
#include <QPointer>
#include <vector>

#include "Logging.h"
#include "ZOR.h"

int ace_main_i(int argc, ACE_TCHAR* argv[]) {
    log4cplus::Initializer logging;
    ConfigureLogging();
    LOG4CPLUS_INFO(log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("ZOR")),
                   LOG4CPLUS_TEXT("Start ZOR"));

    // The platform plugin may take words such as "-name" out of argv; the
    // start-up must see the command line as it was given.
    std::vector<char*> arguments(argv, argv + argc);
    arguments.push_back(nullptr);

    int result = 0;
    {
        QApplication application(argc, argv);
        // Delete-on-close may take the window away before the loop ends; the
        // guarded pointer then reads null and the delete below is skipped.
        QPointer<ZOR> window;
        try {
            window = new ZOR(static_cast<int>(arguments.size()) - 1, arguments.data());
        } catch (const ZorExit& exit) {
            return exit.status;
        }
        window->setAttribute(Qt::WA_DeleteOnClose);
        QApplication::setQuitOnLastWindowClosed(false);
        window->WatchStopSignals();
        window->EndProcessAtShutdown();

        result = QApplication::exec();
        delete window.data();
    }
    return result;
}

int ACE_TMAIN(int argc, ACE_TCHAR* argv[]) {
    return ace_main_i(argc, argv);
}
