#pragma once
// The HID layer's error type, its handler types and the small types its classes share.
// Everything in the layer belongs to the UI thread, except what a device's reader does on its
// own thread (marked where it matters).

#include "hid/HidPnPInfo.h"
#include "platform/base/Exception.h"
#include "platform/win32/Win32.h"

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

class THidDevice;
class THidDeviceController;
class THidDeviceReadThread;

// The one error the HID layer raises: a device object that cannot be constructed.
class EControllerError : public Exception {
public:
    using Exception::Exception;
};

// A handler bound to an object. Two handlers are equal when they call the same member function
// of the same object; one made from a plain callable is equal only to its own copies. Handlers
// that are not assigned are equal to each other.
template <typename Signature> class THidHandler;

template <typename R, typename... Args> class THidHandler<R(Args...)> {
public:
    THidHandler() = default;
    THidHandler(std::nullptr_t) {}

    template <typename Object>
    THidHandler(Object* object, R (Object::*method)(Args...))
        : function_(std::make_shared<const std::function<R(Args...)>>(
              [object, method](Args... args) { return (object->*method)(args...); })),
          object_(object), method_(methodKey(method)) {}

    explicit THidHandler(std::function<R(Args...)> function) {
        if (function) {
            function_ = std::make_shared<const std::function<R(Args...)>>(std::move(function));
            object_ = function_.get();
        }
    }

    bool Assigned() const { return function_ != nullptr; }
    explicit operator bool() const { return Assigned(); }
    R operator()(Args... args) const { return (*function_)(args...); }

    friend bool operator==(const THidHandler& a, const THidHandler& b) {
        return a.object_ == b.object_ && a.method_ == b.method_;
    }

private:
    template <typename Method> static std::string methodKey(Method method) {
        std::string key(sizeof(method), '\0');
        std::memcpy(key.data(), &method, sizeof(method));
        return key;
    }

    std::shared_ptr<const std::function<R(Args...)>> function_;
    const void* object_ = nullptr; // identity only, never dereferenced
    std::string method_;
};

using THidDataEvent =
    THidHandler<void(THidDevice* HidDev, BYTE ReportID, const BYTE* Data, USHORT Size)>;
using THidDataErrorEvent = THidHandler<void(THidDevice* HidDev, DWORD Error)>;
using THidPlugEvent = THidHandler<void(THidDevice* HidDev)>;
using THidEnumerateEvent = THidHandler<bool(THidDevice* HidDev, int Idx)>;
using THidDeviceCreateError = THidHandler<void(
    THidDeviceController* Controller, THidPnPInfo* PnPInfo, bool& Handled, bool& RetryCreate)>;
using TNotifyEvent = THidHandler<void(void* Sender)>;
using THidCheckCallback = bool (*)(THidDevice* HidDev);

enum THidOpenExMode { omhRead, omhWrite };

// A device's physical descriptor set, in 16-bit words.
using TPhysicalDescriptor = std::vector<WORD>;
