#pragma once
// The Default Config dialog: default configuration set, extraction folder, logo.
#include "app/frontend.h"
#include "app/transfers.h"
#include "app/views.h"
#include "settings/endpoints.h"
#include "settings/session.h"

namespace talvane::app {

class DefaultDialogPresenter {
  public:
    DefaultDialogPresenter(Frontend& frontend, DefaultDialogView& view, Session& session,
                           Endpoints endpoints);

    void Load();
    // Writes both settings, then closes; a folder too long for the settings is
    // refused with a message, and the dialog stays open.
    void OnSave();
    void OnImport();  // asks the frontend for a .bmp and imports it
    void OnTest();    // splash preview
    void OnComboChange();
    void OnFolderChange();  // the folder box was typed in
    void OnClose();         // close button: writes nothing
    bool Closed() const { return closed_; }

  private:
    void RefreshConfigList();

    Frontend& frontend_;
    DefaultDialogView& view_;
    Session& session_;
    Transfers transfers_;
    bool closed_ = false;
};

}  // namespace talvane::app
