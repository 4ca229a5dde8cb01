// A bare desktop behind the platform seam: the fake desktop's trees (fake::Node, fake::Desktop)
// answered with nothing recorded, no hooks, no clock and no allocation per element handle. With
// it a benchmark measures our own code and the values that cross the seam, without the fake
// desktop's own bookkeeping. It serves exactly what the walk, the locator and the alert reader
// ask: attribute reads and element references; everything else is not linked in.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/fake/fake_desktop.h"

namespace {

struct BareNode {
    fake::Attributes attributes;
    std::vector<int> children;
};

struct BareState {
    std::vector<BareNode> nodes;
    std::vector<std::pair<std::int64_t, int>> applications;  // process id, node
    int requests = 0;
};

BareState bare;

// An element reference is its node's index plus one, so that no reference is null.
void* referenceTo(int node) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(node) + 1); }
int nodeOf(const platform::Element& element) {
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(element.get())) - 1;
}

int add(fake::Node& node) {
    const int index = static_cast<int>(bare.nodes.size());
    bare.nodes.push_back(BareNode{std::move(node.attributes), {}});
    std::vector<int> children;
    children.reserve(node.children.size());
    for (fake::Node& child : node.children) children.push_back(add(child));
    bare.nodes[static_cast<std::size_t>(index)].children = std::move(children);
    return index;
}

platform::Value valueOf(const fake::Attribute& attribute) {
    if (const auto* text = std::get_if<std::string>(&attribute)) return *text;
    if (const auto* point = std::get_if<platform::Point>(&attribute)) return *point;
    if (const auto* size = std::get_if<platform::Size>(&attribute)) return *size;
    return platform::OtherValue{};
}

}  // namespace

namespace fake {

Node node(std::string label, std::string role, Attributes attributes, std::vector<Node> children) {
    attributes.insert(attributes.begin(), {"AXRole", std::move(role)});
    return Node{std::move(label), std::move(attributes), std::move(children)};
}

void install(Desktop desktop) {
    bare = BareState{};
    for (Application& application : desktop.applications) {
        Node element{"", std::move(application.attributes), std::move(application.windows)};
        element.attributes.insert(element.attributes.begin(), {"AXRole", std::string("AXApplication")});
        bare.applications.emplace_back(application.processId, add(element));
    }
}

int requests() { return bare.requests; }

}  // namespace fake

namespace platform {

void releaseElement(void*) noexcept {}

Element createApplicationElement(std::int64_t processId) {
    for (const auto& [pid, node] : bare.applications) {
        if (pid == processId) return Element(referenceTo(node));
    }
    return Element(referenceTo(-1));
}

Element retainElement(const Element& element) { return Element(element.get()); }

AttributeResult copyAttributeValue(const Element& element, std::string_view attribute) {
    ++bare.requests;
    const int node = nodeOf(element);
    if (node < 0) return {kInvalidElement, Absent{}};
    const BareNode& n = bare.nodes[static_cast<std::size_t>(node)];
    for (const auto& [name, value] : n.attributes) {
        if (name == attribute) return {kSuccess, valueOf(value)};
    }
    if (attribute == "AXChildren" || attribute == "AXWindows") {
        ElementList list;
        list.reserve(n.children.size());
        for (const int child : n.children) list.emplace_back(referenceTo(child));
        return {kSuccess, std::move(list)};
    }
    return {kAttributeUnsupported, Absent{}};
}

std::int32_t performAction(const Element&, std::string_view) {
    ++bare.requests;
    return kSuccess;
}

}  // namespace platform
