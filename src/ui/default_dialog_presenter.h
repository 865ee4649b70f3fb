#pragma once
// frmGetDefault's logic: default configuration set, extraction folder, logo.
#include "cloud/ftp.h"
#include "startup/endpoints.h"
#include "ui/frontend.h"
#include "ui/views.h"

namespace talvane::ui {

class DefaultDialogPresenter {
  public:
    DefaultDialogPresenter(Frontend& frontend, DefaultDialogView& view, Endpoints endpoints);

    void Load();
    void OnSave();    // Command1: writes both settings, then closes
    void OnImport();  // Command2: asks the frontend for a .bmp and imports it
    void OnTest();    // Command3: splash preview
    void OnComboChange();
    void OnClose();  // close button: writes nothing
    bool Closed() const { return closed_; }

  private:
    void RefreshConfigList();
    void FillConfigCombo();
    void SelectDefaultConfig();

    Frontend& frontend_;
    DefaultDialogView& view_;
    Endpoints endpoints_;
    cFTP mFTP_;
    bool closed_ = false;
};

}  // namespace talvane::ui
