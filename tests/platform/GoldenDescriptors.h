#pragma once
// Report descriptors of real device kinds, one item per line, used by the parser tests and as
// the fuzzer's seed corpus (tests/fuzz/corpus/descriptor/ holds the same bytes). The locator's
// is the simulated locator's own, testing_support::locatorDescriptor().

#include <cstdint>

namespace golden {

// A boot keyboard: modifier bits, a reserved byte, five LEDs with padding, a six-key array.
inline constexpr std::uint8_t kBootKeyboard[] = {
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x06, // Usage (Keyboard)
    0xA1, 0x01, // Collection (Application)
    0x05, 0x07, //   Usage Page (Keyboard)
    0x19, 0xE0, //   Usage Minimum (Left Control)
    0x29, 0xE7, //   Usage Maximum (Right GUI)
    0x15, 0x00, //   Logical Minimum (0)
    0x25, 0x01, //   Logical Maximum (1)
    0x75, 0x01, //   Report Size (1)
    0x95, 0x08, //   Report Count (8)
    0x81, 0x02, //   Input (Data, Variable, Absolute)
    0x95, 0x01, //   Report Count (1)
    0x75, 0x08, //   Report Size (8)
    0x81, 0x01, //   Input (Constant)
    0x95, 0x05, //   Report Count (5)
    0x75, 0x01, //   Report Size (1)
    0x05, 0x08, //   Usage Page (LEDs)
    0x19, 0x01, //   Usage Minimum (Num Lock)
    0x29, 0x05, //   Usage Maximum (Kana)
    0x91, 0x02, //   Output (Data, Variable, Absolute)
    0x95, 0x01, //   Report Count (1)
    0x75, 0x03, //   Report Size (3)
    0x91, 0x01, //   Output (Constant)
    0x95, 0x06, //   Report Count (6)
    0x75, 0x08, //   Report Size (8)
    0x15, 0x00, //   Logical Minimum (0)
    0x25, 0x65, //   Logical Maximum (101)
    0x05, 0x07, //   Usage Page (Keyboard)
    0x19, 0x00, //   Usage Minimum (0)
    0x29, 0x65, //   Usage Maximum (101)
    0x81, 0x00, //   Input (Data, Array, Absolute)
    0xC0,       // End Collection
};

// A three-button mouse with relative X, Y and wheel.
inline constexpr std::uint8_t kMouse[] = {
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x02, // Usage (Mouse)
    0xA1, 0x01, // Collection (Application)
    0x09, 0x01, //   Usage (Pointer)
    0xA1, 0x00, //   Collection (Physical)
    0x05, 0x09, //     Usage Page (Button)
    0x19, 0x01, //     Usage Minimum (1)
    0x29, 0x03, //     Usage Maximum (3)
    0x15, 0x00, //     Logical Minimum (0)
    0x25, 0x01, //     Logical Maximum (1)
    0x95, 0x03, //     Report Count (3)
    0x75, 0x01, //     Report Size (1)
    0x81, 0x02, //     Input (Data, Variable, Absolute)
    0x95, 0x01, //     Report Count (1)
    0x75, 0x05, //     Report Size (5)
    0x81, 0x01, //     Input (Constant)
    0x05, 0x01, //     Usage Page (Generic Desktop)
    0x09, 0x30, //     Usage (X)
    0x09, 0x31, //     Usage (Y)
    0x09, 0x38, //     Usage (Wheel)
    0x15, 0x81, //     Logical Minimum (-127)
    0x25, 0x7F, //     Logical Maximum (127)
    0x75, 0x08, //     Report Size (8)
    0x95, 0x03, //     Report Count (3)
    0x81, 0x06, //     Input (Data, Variable, Relative)
    0xC0,       //   End Collection
    0xC0,       // End Collection
};

// A composite: a mouse on report ID 1 (physical and logical child collections, 16-bit axes with
// physical range and unit, saved and restored with Push/Pop), a consumer control array on
// report ID 2, a vendor feature report on ID 3 named by a four-byte usage.
inline constexpr std::uint8_t kComposite[] = {
    0x05, 0x01,                   // Usage Page (Generic Desktop)
    0x09, 0x02,                   // Usage (Mouse)
    0xA1, 0x01,                   // Collection (Application)
    0x85, 0x01,                   //   Report ID (1)
    0x09, 0x01,                   //   Usage (Pointer)
    0xA1, 0x00,                   //   Collection (Physical)
    0x05, 0x09,                   //     Usage Page (Button)
    0x19, 0x01,                   //     Usage Minimum (1)
    0x29, 0x02,                   //     Usage Maximum (2)
    0x15, 0x00,                   //     Logical Minimum (0)
    0x25, 0x01,                   //     Logical Maximum (1)
    0x75, 0x01,                   //     Report Size (1)
    0x95, 0x02,                   //     Report Count (2)
    0x81, 0x02,                   //     Input (Data, Variable, Absolute)
    0x95, 0x06,                   //     Report Count (6)
    0x81, 0x03,                   //     Input (Constant, Variable)
    0xA4,                         //     Push
    0x05, 0x01,                   //     Usage Page (Generic Desktop)
    0x16, 0x01, 0x80,             //     Logical Minimum (-32767)
    0x26, 0xFF, 0x7F,             //     Logical Maximum (32767)
    0x36, 0x00, 0xFC,             //     Physical Minimum (-1024)
    0x46, 0x00, 0x04,             //     Physical Maximum (1024)
    0x55, 0x0E,                   //     Unit Exponent (-2)
    0x65, 0x11,                   //     Unit (SI Linear: cm)
    0x75, 0x10,                   //     Report Size (16)
    0x95, 0x02,                   //     Report Count (2)
    0x09, 0x30,                   //     Usage (X)
    0x09, 0x31,                   //     Usage (Y)
    0x81, 0x06,                   //     Input (Data, Variable, Relative)
    0xB4,                         //     Pop
    0xC0,                         //   End Collection
    0x05, 0x01,                   //   Usage Page (Generic Desktop)
    0x09, 0x38,                   //   Usage (Wheel)
    0xA1, 0x02,                   //   Collection (Logical)
    0x09, 0x38,                   //     Usage (Wheel)
    0x15, 0x81,                   //     Logical Minimum (-127)
    0x25, 0x7F,                   //     Logical Maximum (127)
    0x75, 0x08,                   //     Report Size (8)
    0x95, 0x01,                   //     Report Count (1)
    0x81, 0x46,                   //     Input (Data, Variable, Relative, Null State)
    0xC0,                         //   End Collection
    0xC0,                         // End Collection
    0x05, 0x0C,                   // Usage Page (Consumer)
    0x09, 0x01,                   // Usage (Consumer Control)
    0xA1, 0x01,                   // Collection (Application)
    0x85, 0x02,                   //   Report ID (2)
    0x19, 0x00,                   //   Usage Minimum (0)
    0x2A, 0xFF, 0x03,             //   Usage Maximum (0x3FF)
    0x15, 0x00,                   //   Logical Minimum (0)
    0x26, 0xFF, 0x03,             //   Logical Maximum (0x3FF)
    0x75, 0x10,                   //   Report Size (16)
    0x95, 0x01,                   //   Report Count (1)
    0x81, 0x00,                   //   Input (Data, Array, Absolute)
    0xC0,                         // End Collection
    0x06, 0x00, 0xFF,             // Usage Page (Vendor 0xFF00)
    0x09, 0x01,                   // Usage (1)
    0xA1, 0x01,                   // Collection (Application)
    0x85, 0x03,                   //   Report ID (3)
    0x05, 0x01,                   //   Usage Page (Generic Desktop)
    0x0B, 0x02, 0x00, 0x00, 0xFF, //   Usage (Vendor 0xFF00: 2)
    0x15, 0x00,                   //   Logical Minimum (0)
    0x26, 0xFF, 0x00,             //   Logical Maximum (255)
    0x75, 0x08,                   //   Report Size (8)
    0x95, 0x08,                   //   Report Count (8)
    0xB1, 0x02,                   //   Feature (Data, Variable, Absolute)
    0xC0,                         // End Collection
};

} // namespace golden
