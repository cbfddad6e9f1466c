// Every settable field of an XDAS event by its dotted name, for quorvel-emit's
// --set options ("initiator.account.Name", "action.log.Severity", ...).
#pragma once

#include <quorvel/xdas.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel_tools {

struct XdasFieldName {
    std::string name;
    bool numeric; // true for action.log.Severity, a decimal int
    // Sets the field: from `text`, or from `number` when numeric.
    std::function<void(I_XDAS_Event& event, const std::string& text, int number)> set;
};

// Every settable field, built once from the per-component tables.
const std::vector<XdasFieldName>& xdasFieldNames();

// The field called exactly `name`; null when there is none.
const XdasFieldName* findXdasField(std::string_view name);

} // namespace quorvel_tools
