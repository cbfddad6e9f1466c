#include "xdas_field_names.h"

namespace quorvel_tools {

namespace {

// The parties that hold an account and an entity, and how to reach them.
struct PartyRow {
    const char* name;
    I_XDASAcc* (*account)(I_XDAS_Event&);
    I_XDASEntity* (*entity)(I_XDAS_Event&);
};
const PartyRow kParties[] = {
    {"observer", [](I_XDAS_Event& e) { return e.getObserver()->getAccount(); },
     [](I_XDAS_Event& e) { return e.getObserver()->getEntity(); }},
    {"initiator", [](I_XDAS_Event& e) { return e.getInitiator()->getAccount(); },
     [](I_XDAS_Event& e) { return e.getInitiator()->getEntity(); }},
    {"target", [](I_XDAS_Event& e) { return e.getTarget()->getAccount(); },
     [](I_XDAS_Event& e) { return e.getTarget()->getEntity(); }},
};

template <class Component> struct TextRow {
    const char* name;
    void (Component::*set)(std::string);
};
const TextRow<I_XDASAcc> kAccountFields[] = {
    {"Domain", &I_XDASAcc::setDomain}, {"Name", &I_XDASAcc::setName}, {"Id", &I_XDASAcc::setId}};
const TextRow<I_XDASEntity> kEntityFields[] = {{"SysAddr", &I_XDASEntity::setSysAddr},
                                               {"SysName", &I_XDASEntity::setSysName},
                                               {"SvcName", &I_XDASEntity::setSvcName},
                                               {"SvcComp", &I_XDASEntity::setSvcComp}};
const TextRow<I_XDASEvnt> kEventFields[] = {{"Id", &I_XDASEvnt::setId},
                                            {"Name", &I_XDASEvnt::setName},
                                            {"CorrelationID", &I_XDASEvnt::setCorrelationID},
                                            {"SubEvent", &I_XDASEvnt::setSubEvent}};
const TextRow<I_XDASAction> kActionFields[] = {{"Outcome", &I_XDASAction::setOutcome},
                                               {"ExtendedOutcome", &I_XDASAction::setExtendedOutcome},
                                               {"Details", &I_XDASAction::setDetails}};
const TextRow<I_XDAS_Event> kEventTopFields[] = {{"Id", &I_XDAS_Event::setId}, {"Source", &I_XDAS_Event::setSource}};

// Adds "prefix.Name" for every row, reaching the component with `reach`.
template <class Component, std::size_t n, class Reach>
void addRows(std::vector<XdasFieldName>& fields, const std::string& prefix, const TextRow<Component> (&rows)[n],
             Reach reach) {
    for (const TextRow<Component>& row : rows) {
        const auto set = row.set;
        fields.push_back({prefix + row.name, false, [set, reach](I_XDAS_Event& event, const std::string& text, int) {
                              (reach(event)->*set)(text);
                          }});
    }
}

std::vector<XdasFieldName> buildFields() {
    std::vector<XdasFieldName> fields;
    addRows(fields, "", kEventTopFields, [](I_XDAS_Event& e) { return &e; });
    for (const PartyRow& party : kParties) {
        addRows(fields, std::string(party.name) + ".account.", kAccountFields, party.account);
        addRows(fields, std::string(party.name) + ".entity.", kEntityFields, party.entity);
    }
    addRows(fields, "action.event.", kEventFields, [](I_XDAS_Event& e) { return e.getAction()->getEvnt(); });
    fields.push_back({"action.log.Severity", true, [](I_XDAS_Event& e, const std::string&, int number) {
                          e.getAction()->getLog()->setSeverity(number);
                      }});
    addRows(fields, "action.", kActionFields, [](I_XDAS_Event& e) { return e.getAction(); });
    return fields;
}

} // namespace

const std::vector<XdasFieldName>& xdasFieldNames() {
    static const std::vector<XdasFieldName> fields = buildFields();
    return fields;
}

const XdasFieldName* findXdasField(std::string_view name) {
    for (const XdasFieldName& field : xdasFieldNames()) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

} // namespace quorvel_tools
