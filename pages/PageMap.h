#pragma once
// Which page control shows which parameter: the pairing of parameter ids
// 0..144 with a page (by its dialog template) and a control id on it, as
// the parameter descriptors state it (pages/ParamDescriptor.h). The
// read-back and the write route every parameter through it. Control ids
// are unique only within a page (1134 is a control of three pages).
#include <optional>
#include <span>

namespace pell {

struct PageControl {
    int templateId; // the page's dialog template (133 basic ... 139 Modbus)
    int controlId;  // the control on that page
};

// The page and control of a parameter; nullopt for the nine parameters that
// are on no page and for every id outside 0..144.
std::optional<PageControl> FindPageControl(int paramId);

// The parameters that no page shows (7..11 and 26..29).
std::span<const int> ParamsWithoutControl();

// The parameter ids a page shows, in ascending order (empty for a template
// that shows none).
std::span<const int> ParamsOfPage(int templateId);

// The templates of the parameter pages, in the order the configuration page
// holds them: basic, network, water and electricity, digital input, relay,
// counter, serial meter, storage, SMS, Modbus.
std::span<const int> ParamPageTemplates();

} // namespace pell
