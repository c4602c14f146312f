// ComRef: owner of one reference to a COM interface, the way every COM pointer of the program is held (XML
// nodes and documents, WMI objects, the shell's allocator, the streams handed to a parser).
//
// Classes: ComRef<T>.
#pragma once

// Released on destruction, Reset or a move onto it. Not copyable (a copy would release twice); a second
// reference is taken on purpose with Share.
template <typename T> class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T *owned) : pointer_(owned) {}
    ~ComRef() { Reset(); }
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ComRef(ComRef &&other) noexcept : pointer_(other.Detach()) {}
    ComRef &operator=(ComRef &&other) noexcept {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }

    // A reference of our own to a pointer someone else owns; none stays none.
    static ComRef Share(T *borrowed) {
        if (borrowed)
            borrowed->AddRef();
        return ComRef(borrowed);
    }

    T *Get() const { return pointer_; }
    T *operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For a call that hands out a new reference: the previous one is released first.
    T **Receive() {
        Reset();
        return &pointer_;
    }
    void **ReceiveVoid() { return reinterpret_cast<void **>(Receive()); }
    // For a call that may replace the reference it is given, releasing the one it replaces (a walk's
    // current node): the held reference stays and goes to the call.
    T **InOut() { return &pointer_; }
    void Reset(T *owned = nullptr) {
        T *previous = pointer_;
        pointer_ = owned;
        if (previous)
            previous->Release();
    }
    // Hands the reference to the caller.
    T *Detach() {
        T *pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }

private:
    T *pointer_ = nullptr;
};
