#include "core.h"

#include <algorithm>

namespace standin::detail {

bool SameText(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         (a.empty() || CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                            static_cast<int>(b.size()), TRUE) == CSTR_EQUAL);
}

bool ProjectNode::Saved() const {
  if (dirty || file_name.empty()) return false;
  return std::none_of(components.begin(), components.end(),
                      [](const std::shared_ptr<ComponentNode>& c) { return c->dirty; });
}

Core::Core() = default;
Core::~Core() = default;

std::size_t Core::Record(Call call) {
  calls.push_back(std::move(call));
  return calls.size() - 1;
}

void Core::SetResult(std::size_t entry, HRESULT result) {
  if (entry < calls.size()) calls[entry].result = result;
}

std::optional<Failure> Core::DueFailure(std::wstring_view operation, Stage stage) {
  std::optional<Failure> due;
  for (auto rule = rules.begin(); rule != rules.end();) {
    const bool any = rule->failure.operation.empty();
    if (any != (stage == Stage::kEntry) || (!any && !SameText(rule->failure.operation, operation))) {
      ++rule;
      continue;
    }
    if (rule->left == 0) {
      if (!due) due = rule->failure;
      ++rule;
    } else if (--rule->left == 0) {
      if (!due) due = rule->failure;
      rule = rules.erase(rule);
    } else {
      ++rule;
    }
  }
  return due;
}

std::shared_ptr<BarNode> Core::FindBar(std::wstring_view bar_name) const {
  for (const auto& bar : bars) {
    if (SameText(bar->name, bar_name)) return bar;
  }
  return nullptr;
}

std::shared_ptr<ProjectNode> Core::FindProject(std::wstring_view project_name) const {
  for (const auto& project : projects) {
    if (SameText(project->name, project_name)) return project;
  }
  return nullptr;
}

}  // namespace standin::detail
