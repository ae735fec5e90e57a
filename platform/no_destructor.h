// A process-wide object that is never destroyed and lives in static storage, not on the heap:
// threads may still use it during static destruction, and after the library is unloaded nothing of
// it is left behind as a heap block.
#ifndef ORVO_PLATFORM_NO_DESTRUCTOR_H
#define ORVO_PLATFORM_NO_DESTRUCTOR_H

#include <new>
#include <utility>

namespace orvo::platform {

template <typename T> class NoDestructor {
public:
    template <typename... Args> explicit NoDestructor(Args &&...args)
    {
        new (m_storage) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor &) = delete;
    NoDestructor &operator=(const NoDestructor &) = delete;
    T &get() { return *std::launder(reinterpret_cast<T *>(m_storage)); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

} // namespace orvo::platform

#endif // ORVO_PLATFORM_NO_DESTRUCTOR_H
