#include "progress.h"

#include <cstdio>
#include <unistd.h>

namespace tagora::cli {
namespace {

constexpr qint64 kQuietStartMs = 1000;
constexpr qint64 kRedrawMs = 100;

} // namespace

bool progressWanted(bool quiet)
{
    return !quiet && ::isatty(STDERR_FILENO);
}

Progress::Progress(bool enabled, qint64 total) : m_enabled(enabled), m_total(total)
{
    m_timer.start();
}

Progress::~Progress()
{
    clear();
}

void Progress::step()
{
    ++m_done;
    if (!m_enabled)
        return;
    const qint64 elapsed = m_timer.elapsed();
    if (elapsed < kQuietStartMs || elapsed - m_lastDrawMs < kRedrawMs)
        return;
    m_lastDrawMs = elapsed;
    draw();
}

void Progress::draw()
{
    const double seconds = double(m_timer.elapsed()) / 1000.0;
    const double rate = double(m_done) / seconds;
    if (m_total > 0) {
        const qint64 left = rate > 0 ? qint64(double(m_total - m_done) / rate) : 0;
        std::fprintf(stderr, "\r\033[K%lld/%lld files, %.0f/s, %lld:%02lld left",
                     static_cast<long long>(m_done), static_cast<long long>(m_total), rate,
                     static_cast<long long>(left / 60), static_cast<long long>(left % 60));
    } else {
        std::fprintf(stderr, "\r\033[K%lld files, %.0f/s", static_cast<long long>(m_done), rate);
    }
    std::fflush(stderr);
    m_shown = true;
}

void Progress::clear()
{
    if (!m_shown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_shown = false;
}

} // namespace tagora::cli
