// How long the rest of a job will take, guessed from the bytes done so far.
#pragma once

#include <QString>

struct JobProgress;

struct TimeLeft
{
    // False until there is enough to go on: a second of the job, some bytes
    // done and some still to do out of a known total.
    bool known = false;
    qint64 seconds = 0;       // still to go, at the speed so far
    double bytesPerSecond = 0; // the speed so far
};

// The estimate the window and the command line both show: the bytes still
// to do at the job's average speed since its start.
TimeLeft timeLeft(const JobProgress &progress);

// "1:20", "1:02:03": the command line's way of writing a duration.
QString durationText(qint64 seconds);

// The progress window's line, such as "残り 約 1 分 20 秒 (12.3 MB/秒)";
// empty while the estimate is not known.
QString timeLeftText(const TimeLeft &left);
