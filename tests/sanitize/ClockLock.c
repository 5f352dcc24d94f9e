/* The timed lock of std::timed_mutex (try_lock_for, try_lock_until) calls
 * pthread_mutex_clocklock, which the ThreadSanitizer of GCC 12 does not
 * intercept: it would see such a lock's unlock without its lock, and what the
 * lock guards as unguarded. Linked into every program of the ThreadSanitizer
 * build only, this stand-in takes the lock through pthread_mutex_timedlock,
 * which it does see, with the deadline moved to the realtime clock. */
#define _GNU_SOURCE /* pthread_mutex_clocklock */
#include <pthread.h>
#include <time.h>

int pthread_mutex_clocklock(pthread_mutex_t* restrict mutex, clockid_t clock, const struct timespec* restrict deadline)
{
    if (clock == CLOCK_REALTIME)
        return pthread_mutex_timedlock(mutex, deadline);
    struct timespec now, real;
    clock_gettime(clock, &now);
    clock_gettime(CLOCK_REALTIME, &real);
    long long left = (long long)(deadline->tv_sec - now.tv_sec) * 1000000000LL + (deadline->tv_nsec - now.tv_nsec);
    if (left < 0)
        left = 0;
    long long ns = real.tv_nsec + left % 1000000000LL;
    real.tv_sec += (time_t)(left / 1000000000LL + ns / 1000000000LL);
    real.tv_nsec = (long)(ns % 1000000000LL);
    return pthread_mutex_timedlock(mutex, &real);
}
