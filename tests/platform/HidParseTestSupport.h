#pragma once
// Owning preparsed data and reading whole capability lists, for the parser tests.

#include "platform/hidclass/HidPi.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace hidparse_test {

struct PreparsedDeleter {
    void operator()(HIDP_PREPARSED_DATA* data) const { platform::FreePreparsedData(data); }
};
using Preparsed = std::unique_ptr<HIDP_PREPARSED_DATA, PreparsedDeleter>;

inline Preparsed parse(std::span<const std::uint8_t> descriptor) {
    return Preparsed(platform::ParsePreparsedData(descriptor.data(), descriptor.size()));
}

inline HIDP_CAPS capsOf(const Preparsed& data) {
    HIDP_CAPS caps{};
    EXPECT_EQ(platform::HidP_GetCaps(data.get(), &caps), HIDP_STATUS_SUCCESS);
    return caps;
}

inline std::vector<HIDP_BUTTON_CAPS> buttonCapsOf(const Preparsed& data, HIDP_REPORT_TYPE type) {
    std::vector<HIDP_BUTTON_CAPS> caps(64);
    USHORT length = static_cast<USHORT>(caps.size());
    const NTSTATUS status = platform::HidP_GetButtonCaps(type, caps.data(), &length, data.get());
    EXPECT_TRUE(status == HIDP_STATUS_SUCCESS || status == HIDP_STATUS_USAGE_NOT_FOUND);
    caps.resize(length);
    return caps;
}

inline std::vector<HIDP_VALUE_CAPS> valueCapsOf(const Preparsed& data, HIDP_REPORT_TYPE type) {
    std::vector<HIDP_VALUE_CAPS> caps(64);
    USHORT length = static_cast<USHORT>(caps.size());
    const NTSTATUS status = platform::HidP_GetValueCaps(type, caps.data(), &length, data.get());
    EXPECT_TRUE(status == HIDP_STATUS_SUCCESS || status == HIDP_STATUS_USAGE_NOT_FOUND);
    caps.resize(length);
    return caps;
}

inline std::vector<HIDP_LINK_COLLECTION_NODE> nodesOf(const Preparsed& data) {
    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(capsOf(data).NumberLinkCollectionNodes);
    ULONG length = static_cast<ULONG>(nodes.size());
    EXPECT_EQ(platform::HidP_GetLinkCollectionNodes(nodes.data(), &length, data.get()),
              HIDP_STATUS_SUCCESS);
    return nodes;
}

} // namespace hidparse_test
