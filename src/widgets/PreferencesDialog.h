#pragma once

#include <QDialog>

#include <functional>
#include <vector>

class QRadioButton;
class EPGController;

// The preferences sheet: every control writes its setting as soon as it changes, and
// closing never reverts a change. Window-modal on the main window.
class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    PreferencesDialog(EPGController *controller, QWidget *parent);

    // Refreshes every control from the store ("USB" selects the USB choice) and shows the sheet.
    void openPrefsSheet();
    // Flushes the store, applies "autoRun" and ends the sheet with code 1.
    void closePrefsSheet();

    QRadioButton *usbRadioButton() const { return usbRadioButton_; }

    // Escape closes like the Close button.
    void reject() override { closePrefsSheet(); }

private:
    void loadFromSettings();

    EPGController *controller_;
    QRadioButton *usbRadioButton_ = nullptr;
    QRadioButton *ftpRadioButton_ = nullptr;
    std::vector<std::function<void()>> loaders_;
};
