// A value that is built once and never destroyed. State that logging reads
// (the catalogue, the host name, the module name) is held this way, so that a
// thread still logging while the process exits, or an exit handler or static
// destructor that logs, never reads an object that exit has destroyed. The
// memory goes back with the process.
#pragma once

#include <new>
#include <utility>

namespace quorvel {

template <class T> class NoDestructor {
  public:
    template <class... Args> explicit NoDestructor(Args&&... args) { new (storage_) T(std::forward<Args>(args)...); }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& operator*() { return *get(); }
    const T& operator*() const { return *get(); }
    T* operator->() { return get(); }
    const T* operator->() const { return get(); }

  private:
    T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }
    const T* get() const { return std::launder(reinterpret_cast<const T*>(storage_)); }

    alignas(T) unsigned char storage_[sizeof(T)];
};

} // namespace quorvel
