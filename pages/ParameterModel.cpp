#include "pages/ParameterModel.h"

namespace pell {

ParameterModel::ParameterModel(const ParamTable& controller, const std::vector<int>& withControls)
    : controller_(controller)
{
    for (int id : withControls)
        if (Held* h = find(id))
            h->control = true;
}

ParameterModel::Held* ParameterModel::find(int id)
{
    return id >= 0 && id < kIds ? &held_[static_cast<std::size_t>(id)] : nullptr;
}

const ParameterModel::Held* ParameterModel::find(int id) const
{
    return id >= 0 && id < kIds ? &held_[static_cast<std::size_t>(id)] : nullptr;
}

ParameterModel::ShowResult ParameterModel::Show(int id, std::string_view text)
{
    std::lock_guard<std::mutex> lock(m_);
    Held* h = find(id);
    if (h == nullptr || !h->control)
        return ShowResult::NoControl;
    if (h->readable && h->text == text)
        return ShowResult::Already;
    h->text = std::string(text);
    h->readable = true;
    return ShowResult::Shown;
}

void ParameterModel::Edit(int id, std::string_view text)
{
    std::lock_guard<std::mutex> lock(m_);
    if (Held* h = find(id))
        *h = Held{true, true, std::string(text)};
}

void ParameterModel::MakeUnreadable(int id)
{
    std::lock_guard<std::mutex> lock(m_);
    if (Held* h = find(id))
        h->readable = false;
}

void ParameterModel::Hold(int id, const std::optional<std::string>& value)
{
    std::lock_guard<std::mutex> lock(m_);
    Held* h = find(id);
    if (h == nullptr)
        return;
    h->control = true;
    h->readable = value.has_value();
    if (value)
        h->text = *value;
}

void ParameterModel::RemoveControl(int id)
{
    std::lock_guard<std::mutex> lock(m_);
    if (Held* h = find(id))
        *h = Held{};
}

bool ParameterModel::HasControl(int id) const
{
    std::lock_guard<std::mutex> lock(m_);
    const Held* h = find(id);
    return h != nullptr && h->control;
}

std::optional<std::string> ParameterModel::Value(int id) const
{
    std::lock_guard<std::mutex> lock(m_);
    const Held* h = find(id);
    if (h == nullptr || !h->control || !h->readable)
        return std::nullopt;
    return h->text;
}

std::string ParameterModel::Shown(int id) const
{
    std::lock_guard<std::mutex> lock(m_);
    const Held* h = find(id);
    return h != nullptr && h->control ? h->text : std::string();
}

std::optional<std::string> ParameterModel::Controller(int id) const
{
    return controller_.Get(id);
}

bool ParameterModel::Differs(int id) const
{
    const std::optional<std::string> held = Value(id);
    if (!held)
        return false;
    const std::optional<std::string> controller = Controller(id);
    return !controller || *controller != *held;
}

PageReadings ParameterModel::Readings(const std::vector<int>& ids) const
{
    PageReadings readings;
    readings.reserve(ids.size());
    for (int id : ids)
        readings.push_back(Value(id));
    return readings;
}

} // namespace pell
