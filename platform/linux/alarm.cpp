#include "platform/linux/alarm.h"

#include <pthread.h>

namespace platform::linux_desktop {
namespace {

timeval timeValue(std::chrono::milliseconds duration) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(duration.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>(duration.count() % 1000 * 1000);
    return value;
}

}  // namespace

ScopedAlarm::ScopedAlarm(std::chrono::milliseconds timeout, void (*handler)(int),
                         std::chrono::milliseconds repeat) {
    struct sigaction action {};
    action.sa_handler = handler;  // no SA_RESTART: the interrupted call fails
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previousAction);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarm, &previousMask);
    itimerval timer{};
    timer.it_value = timeValue(timeout);
    timer.it_interval = timeValue(repeat);
    setitimer(ITIMER_REAL, &timer, &previousTimer);
}

ScopedAlarm::~ScopedAlarm() {
    setitimer(ITIMER_REAL, &previousTimer, nullptr);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGALRM, &previousAction, nullptr);
}

}  // namespace platform::linux_desktop
