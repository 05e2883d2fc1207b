#pragma once

namespace nix {

// A system handle together with whether this wrapper must release it. An application's
// card handle handed to the library is borrowed (owned false) and never released here;
// each derived class releases its own kind of handle in its destructor.
template <typename T>
class Handle {
public:
    Handle(T handle, bool owned) : handle_(handle), owned_(owned) {}
    virtual ~Handle() = default;

    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    T GetHandle() const { return handle_; }
    bool IsOwned() const { return owned_; }

protected:
    // Clears the handle and the owned flag; returns whether the caller must release the old handle.
    bool Disown(T& released)
    {
        released = handle_;
        const bool wasOwned = owned_;
        handle_ = T();
        owned_ = false;
        return wasOwned;
    }

    T handle_;
    bool owned_;
};

}  // namespace nix
