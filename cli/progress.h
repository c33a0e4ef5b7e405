#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

namespace tagora::cli {

// A progress line on stderr (done/total, rate, time left), shown only when stderr is a
// terminal, not silenced, and the work has lasted over a second. A total of 0 means the
// total is not known; the line then gives done and rate only.
class Progress
{
public:
    Progress(bool enabled, qint64 total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void step();
    // Takes the line off the terminal, so a failure line can be printed in its place; the
    // next step draws it again.
    void clear();

private:
    void draw();

    bool m_enabled;
    qint64 m_total;
    qint64 m_done = 0;
    qint64 m_lastDrawMs = 0;
    bool m_shown = false;
    QElapsedTimer m_timer;
};

// True when progress may be shown at all: stderr is a terminal and -q was not given.
bool progressWanted(bool quiet);

} // namespace tagora::cli
