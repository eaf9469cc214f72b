// Compiled into the program and the window tests only in a ZELVO_SANITIZE
// build with ThreadSanitizer. Qt's raster engine splits large fills and image
// conversions into jobs for its thread pool and hands them over through
// QMutex and QSemaphore, which are bare futexes that the sanitizer cannot
// see: every such hand-over would show as a race on Qt's own data. Here a job
// runs at once on the thread that hands it over, as Qt itself does where no
// pool is at hand, so that nothing needs to be suppressed. This stands in for
// Qt's own definition, which Qt GUI reaches through the dynamic linker.
#include <QThreadPool>

void QThreadPool::start(std::function<void()> FunctionToRun, int) { FunctionToRun(); }
