#include "plugin/dispatch.h"

#include "plugin/host_exchange.h"
#include "text/text.h"

const ActionDeclaration kActionTable[2] = {
    {1, "ae_resize", "Resize Images", "AE_Resize ", "[source]|[target]|[width]|[height]",
     ResizeAction},
    {2, "AE_Image_Get_Metrics", "Get Image metrics", "AE_Image_Get_Metrics ", "[ImageName]",
     ImageMetricsAction},
};

std::string ActionHelpText(const ActionDeclaration& action) {
  return std::string(action.hintLine) + "\r\n" + action.displayText + '"' + action.parameterList +
         '"';
}

Action FindAction(int32_t number) {
  for (const ActionDeclaration& action : kActionTable) {
    if (action.number == number) return action.run;
  }
  return nullptr;
}

void RunAction(Action action, const char* parameter) {
  std::string copy;
  try {
    copy = TextFromCString(parameter);
  } catch (...) {
    copy.clear();
  }
  SetHostVariables(action(copy));
}

int32_t ExecAction(int32_t number, const char* const* parameterRef) {
  const Action action = FindAction(number);
  if (action == nullptr) return 0;
  try {
    RunAction(action, parameterRef != nullptr ? *parameterRef : nullptr);
  } catch (...) {
    // The action's outcome, a failure to report it included, never changes the answer.
  }
  return 1;
}

int32_t EditAction(int32_t number) { return FindAction(number) != nullptr ? 1 : 0; }
