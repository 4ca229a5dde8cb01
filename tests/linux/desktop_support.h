// Reading the stand-in's accessibility tree through the platform seam in the Linux tests: a few
// small walks and a compact text form of a subtree, so that a test compares whole trees as
// text. Only the tests use these; the tool has its own queries above the seam.
#pragma once

#include "platform/platform.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace desktop_support {

inline constexpr const char* kBundleIdentifier = "com.corel.coreldrawsuite.2022.coreldraw";

// The text of an attribute, "" when it is not text.
std::string text(const platform::Element& element, const char* attribute);

platform::ElementList list(const platform::Element& element, const char* attribute);

// The descendants of an element in pre-order, down to 12 levels below it, as the tool's walk
// lists them after the element itself.
platform::ElementList descendants(const platform::Element& root);

// The first descendant in pre-order with this role (and this value, when given).
std::optional<platform::Element> find(const platform::Element& root, const std::string& role,
                                      const std::optional<std::string>& value = std::nullopt);

// The application's first window whose title is `title`.
std::optional<platform::Element> windowTitled(const platform::Element& application,
                                              const std::string& title);

// The subtree as indented lines: the role, then the value in quotes where it is text, then the
// title and description in brackets where they are not empty.
std::string dump(const platform::Element& root);

// One left click at a point, as the tool posts it: down, 50 ms, up, 50 ms.
bool click(platform::Point point);

// One press of Escape (virtual key 53): down, then up.
bool escape();

// Polls the condition every 20 ms until it holds or the patience runs out.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds patience = std::chrono::seconds(10));

std::optional<platform::Point> position(const platform::Element& element);
std::optional<platform::Size> size(const platform::Element& element);

}  // namespace desktop_support
