#pragma once
// The Office command bars of the IDE: the collection, a bar, its controls and a
// button.
#include "MSO.h"
#include "automation.h"

namespace standin::detail {

class CommandBarsObject final : public Automation<CommandBars> {
 public:
  explicit CommandBarsObject(std::weak_ptr<Core> core) : Automation(std::move(core)) {}
  STDMETHODIMP get_Item(VARIANT index, CommandBar** bar) override;
};

class CommandBarObject final : public Automation<CommandBar> {
 public:
  CommandBarObject(std::weak_ptr<Core> core, std::weak_ptr<BarNode> bar);
  ~CommandBarObject() override;
  STDMETHODIMP get_Controls(CommandBarControls** controls) override;

 private:
  std::weak_ptr<BarNode> bar_;
};

class ControlsObject final : public Automation<CommandBarControls> {
 public:
  ControlsObject(std::weak_ptr<Core> core, std::weak_ptr<BarNode> bar)
      : Automation(std::move(core)), bar_(std::move(bar)) {}
  STDMETHODIMP Add(VARIANT type, VARIANT id, VARIANT parameter, VARIANT before, VARIANT temporary,
                   CommandBarControl** control) override;
  STDMETHODIMP get_Count(int* count) override;
  STDMETHODIMP get_Item(VARIANT index, CommandBarControl** control) override;

 private:
  std::weak_ptr<BarNode> bar_;
};

// Every control the stand-in makes is a button.
class ControlObject final : public Automation<CommandBarButton> {
 public:
  ControlObject(std::weak_ptr<Core> core, std::weak_ptr<ControlNode> control);
  ~ControlObject() override;
  STDMETHODIMP get_Caption(BSTR* caption) override;
  STDMETHODIMP put_Caption(BSTR caption) override;
  STDMETHODIMP Delete(VARIANT temporary) override;
  STDMETHODIMP get_FaceId(int* id) override;
  STDMETHODIMP put_FaceId(int id) override;
  STDMETHODIMP PasteFace() override;

  // The control it stands for; expired once the control is deleted.
  const std::weak_ptr<ControlNode>& node() const { return control_; }

 protected:
  bool Answers(REFIID riid) const override;

 private:
  std::weak_ptr<ControlNode> control_;
};

}  // namespace standin::detail
