// Reference counting for display objects of the back ends: one reference per Create*, each
// Release() gives one back, the last one deletes the object.
#ifndef ORVO_PLATFORM_DISPLAY_REF_COUNTED_H
#define ORVO_PLATFORM_DISPLAY_REF_COUNTED_H

#include <cstdint>

namespace orvo::platform {

template <typename Interface>
class RefCounted : public Interface {
public:
    uint32_t AddRef() override { return ++references_; }
    uint32_t Release() override
    {
        const uint32_t left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

protected:
    RefCounted() = default;
    ~RefCounted() override = default;
    RefCounted(const RefCounted &) = delete;
    RefCounted &operator=(const RefCounted &) = delete;

private:
    // One thread at a time uses a display object, so a plain counter does.
    uint32_t references_ = 1;
};

} // namespace orvo::platform

#endif // ORVO_PLATFORM_DISPLAY_REF_COUNTED_H
