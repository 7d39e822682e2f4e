#include "platform/timing.h"

#include <QCoreApplication>
#include <QThread>
#include <QTime>

#include <ctime>

namespace bw {

void Sleep(int ms) {
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

double Timer() {
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

void DoEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void readTimeZoneOnce() {
    if (qEnvironmentVariableIsSet("TZ"))
        return;
    qputenv("TZ", ":/etc/localtime");
    tzset();
}

} // namespace bw
