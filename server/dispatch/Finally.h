#pragma once
// Runs its function when the scope ends, also by an exception: buffers that a
// store handed out go back to it on every path.

#include <utility>

template <class F>
class Finally {
public:
    explicit Finally(F f) : f_(std::move(f)) {}
    ~Finally() { f_(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    F f_;
};
