// MainDialog: the application object and its only window: the processor list with live usage, the
// percentage slider, Grab/Stop, the link and the automatic-update box.
//
// Classes: MainDialog.
#pragma once

#include "ui/DialogRunner.h"
#include "base/ModuleInfo.h"
#include "base/RecordList.h"
#include "load/UsageSampler.h"
#include "ui/ControlAnchors.h"
#include "ui/LinkControl.h"
#include "ui/ListViewControl.h"
#include "ui/TrackbarControl.h"
#include "update/UpdateClient.h"
#include <cstdint>

class MainDialog : public DialogRunner {
public:
    // Configured values: the product title, the settings key, the maker's page and update query.
    static const char kTitle[];
    static const char kSettingsKey[];
    static const char kAutoUpdateValue[];
    // 1 once the 32-bit program has told this user that the machine has more processors than it can load.
    static const char kWideMachineNoticeValue[];
    static const char kLastCheckValue[];
    static const char kLinkAddress[];
    static const char kUpdateUrl[];
    // A string value under kSettingsKey that, when present and not empty, replaces kUpdateUrl (an update
    // mirror of one's own).
    static const char kUpdateUrlValue[];
    enum { kRefreshTimer = 1, kRefreshMs = 1000 };

    MainDialog() = default;
    ~MainDialog() override;

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // 1: start every processor's worker at the slider's percentage; 0: ask every worker to stop, then wait
    // for each.
    void StartStopLoad(int start);
    void RefreshUsage();
    static void PositionChanged(int position, int scrollCode, void *dialog);

    int Running() const { return running_; }
    int Stopping() const { return stopping_; }
    const UpdateClient &Updater() const { return updater_; }

private:
    void AddProcessors();
    void TellAboutWideMachine();
    void StartUpdateCheck(int weekly);
    void DeleteRecords();

    ModuleInfo module_;
    RecordList processors_;
    UsageSampler inventory_;
    ListViewControl list_;
    TrackbarControl slider_;
    LinkControl link_;
    UpdateClient updater_;
    ControlAnchors anchors_;
    int running_ = 0;
    // Stopping waits for the workers while dispatching messages, which can re-enter the dialog: while it is
    // set, Grab/Stop is ignored and a close is put off until the stop has finished.
    int stopping_ = 0;
    int closing_ = 0;
    int closeDeferred_ = 0;
    INT_PTR deferredResult_ = 0;
};
