#include "app/qt/ui_wait.h"

#include <QEventLoop>
#include <QTimer>

namespace ZELKUtil {

void WaitKeepingWindowAlive(std::int64_t ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(ms));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace ZELKUtil
