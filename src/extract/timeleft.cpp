// How long the rest of a job will take, guessed from the bytes done so far.
#include "timeleft.h"

#include "extractjob.h"

#include <cmath>

#include <QCoreApplication>

namespace {

// What the user reads.
QString leftText() { return QCoreApplication::translate("TimeLeft", "残り 約 %1 (%2)"); }
QString hoursText() { return QCoreApplication::translate("TimeLeft", "%1 時間 %2 分"); }
QString minutesText() { return QCoreApplication::translate("TimeLeft", "%1 分 %2 秒"); }
QString secondsText() { return QCoreApplication::translate("TimeLeft", "%1 秒"); }
QString speedText() { return QCoreApplication::translate("TimeLeft", "%1 %2/秒"); }

// Less than this and the speed says more about start-up than about the job.
constexpr qint64 leastElapsedMs = 1000;

} // namespace

TimeLeft timeLeft(const JobProgress &progress)
{
    TimeLeft left;
    if (progress.elapsedMs < leastElapsedMs || progress.bytesDone == 0
        || progress.bytesDone >= progress.bytesTotal)
        return left;
    left.known = true;
    left.bytesPerSecond = double(progress.bytesDone) * 1000 / double(progress.elapsedMs);
    left.seconds = qint64(std::ceil(double(progress.bytesTotal - progress.bytesDone) / left.bytesPerSecond));
    return left;
}

QString durationText(qint64 seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QChar(u'0'))
            .arg(seconds % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
}

QString timeLeftText(const TimeLeft &left)
{
    if (!left.known)
        return QString();
    const qint64 s = qMax<qint64>(1, left.seconds);
    const QString duration = s >= 3600 ? hoursText().arg(s / 3600).arg(s / 60 % 60)
        : s >= 60                      ? minutesText().arg(s / 60).arg(s % 60)
                                       : secondsText().arg(s);
    // The list's sizes count in thousands, so the speed does too.
    double speed = left.bytesPerSecond / 1000;
    QString unit = QStringLiteral("KB");
    if (speed >= 1000) {
        speed /= 1000;
        unit = QStringLiteral("MB");
    }
    if (speed >= 1000) {
        speed /= 1000;
        unit = QStringLiteral("GB");
    }
    return leftText().arg(duration, speedText().arg(speed, 0, 'f', 1).arg(unit));
}
