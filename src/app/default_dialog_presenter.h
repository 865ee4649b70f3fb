#pragma once
// frmGetDefault's logic: default configuration set, extraction folder, logo.
#include "net/ftp.h"
#include "settings/endpoints.h"
#include "settings/session.h"
#include "app/frontend.h"
#include "app/views.h"

namespace talvane::ui {

class DefaultDialogPresenter {
  public:
    DefaultDialogPresenter(Frontend& frontend, DefaultDialogView& view, Session& session,
                           Endpoints endpoints);

    void Load();
    void OnSave();    // writes both settings, then closes
    void OnImport();  // asks the frontend for a .bmp and imports it
    void OnTest();    // splash preview
    void OnComboChange();
    void OnClose();  // close button: writes nothing
    bool Closed() const { return closed_; }

  private:
    void RefreshConfigList();

    Frontend& frontend_;
    DefaultDialogView& view_;
    Session& session_;
    Endpoints endpoints_;
    cFTP mFTP_;
    bool closed_ = false;
};

}  // namespace talvane::ui
