#include "widgets/PreferencesDialog.h"

#include "app/EPGController.h"
#include "app/FtpUpload.h"
#include "base/Settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

PreferencesDialog::PreferencesDialog(EPGController *controller, QWidget *parent)
    : QDialog(parent)
    , controller_(controller)
{
    setWindowTitle(tr("Preferences"));
    setWindowModality(Qt::WindowModal);
    auto *form = new QFormLayout;

    auto *location = new QComboBox;
    location->setObjectName("location");
    location->addItems(Settings::regions());
    location->setEditable(false);
    connect(location, &QComboBox::currentTextChanged, this,
            [](const QString &v) { Settings::setValue("location", v); });
    loaders_.push_back([location] {
        const QSignalBlocker block(location);
        const QString v = Settings::string("location");
        if (location->findText(v) < 0)
            location->addItem(v);
        location->setCurrentText(v);
    });
    form->addRow(tr("Location:"), location);

    auto *provider = new QComboBox;
    provider->setObjectName("provider");
    provider->addItem(tr("Web provider"), QString());
    provider->addItem(tr("Web provider, second path"), QStringLiteral("Korrin2"));
    provider->addItem(tr("Scripts (UK)"), QStringLiteral("UK"));
    connect(provider, &QComboBox::currentIndexChanged, this, [provider](int i) {
        Settings::setValue("provider", provider->itemData(i).toString());
    });
    loaders_.push_back([provider] {
        const QSignalBlocker block(provider);
        const QString v = Settings::string("provider");
        const int i = provider->findData(v);
        provider->setCurrentIndex(i >= 0 ? i : 0);
    });
    form->addRow(tr("Provider:"), provider);

    auto addLine = [&](const QString &key, const QString &label, const QString &placeholder) {
        auto *edit = new QLineEdit;
        edit->setObjectName(key);
        edit->setPlaceholderText(placeholder);
        connect(edit, &QLineEdit::textEdited, this, [key](const QString &v) {
            if (key == QLatin1String("uploadFolder"))
                Settings::setValue(key, *Settings::parseText(key, v));
            else
                Settings::setValue(key, v);
        });
        loaders_.push_back([edit, key] {
            edit->setText(Settings::formatText(key, Settings::value(key)));
        });
        form->addRow(label, edit);
        return edit;
    };
    addLine("providerHost", tr("Provider host:"), tr("host or host:port"));

    auto *methodRow = new QHBoxLayout;
    usbRadioButton_ = new QRadioButton(tr("USB"));
    usbRadioButton_->setObjectName("usbRadioButton");
    ftpRadioButton_ = new QRadioButton(tr("FTP"));
    ftpRadioButton_->setObjectName("ftpRadioButton");
    auto *group = new QButtonGroup(this);
    group->addButton(usbRadioButton_);
    group->addButton(ftpRadioButton_);
    methodRow->addWidget(usbRadioButton_);
    methodRow->addWidget(ftpRadioButton_);
    methodRow->addStretch();
    connect(usbRadioButton_, &QRadioButton::toggled, this, [](bool on) {
        Settings::setValue("connectionMethod", on ? QStringLiteral("USB") : QStringLiteral("FTP"));
    });
    loaders_.push_back([this] {
        const bool usb = Settings::string("connectionMethod") == QLatin1String("USB");
        const QSignalBlocker b1(usbRadioButton_), b2(ftpRadioButton_);
        (usb ? usbRadioButton_ : ftpRadioButton_)->setChecked(true);
    });
    form->addRow(tr("Connection:"), methodRow);

    // The password is kept apart from the URL, so that it is shown masked.
    auto *ftpUrl = new QLineEdit;
    ftpUrl->setObjectName("FTP URL");
    ftpUrl->setPlaceholderText(QStringLiteral("ftp://user@host:21/folder/"));
    auto *ftpPassword = new QLineEdit;
    ftpPassword->setObjectName("ftpPassword");
    ftpPassword->setEchoMode(QLineEdit::Password);
    auto storeFtp = [ftpUrl, ftpPassword] {
        Settings::setValue("FTP URL", FtpUpload::joinPassword(ftpUrl->text(), ftpPassword->text()));
    };
    connect(ftpUrl, &QLineEdit::textEdited, this, storeFtp);
    connect(ftpPassword, &QLineEdit::textEdited, this, storeFtp);
    loaders_.push_back([ftpUrl, ftpPassword] {
        const FtpUpload::UrlParts parts = FtpUpload::splitPassword(Settings::string("FTP URL"));
        ftpUrl->setText(parts.url);
        ftpPassword->setText(parts.password);
    });
    form->addRow(tr("FTP URL:"), ftpUrl);
    form->addRow(tr("FTP password:"), ftpPassword);
    addLine("uploadFolder", tr("Recorder folder:"), tr("components, comma-separated"));

    auto addCheck = [&](const QString &key, const QString &label) {
        auto *box = new QCheckBox(label);
        box->setObjectName(key);
        connect(box, &QCheckBox::toggled, this, [key](bool on) { Settings::setValue(key, on); });
        loaders_.push_back([box, key] {
            const QSignalBlocker block(box);
            box->setChecked(Settings::boolean(key));
        });
        form->addRow(QString(), box);
        return box;
    };
    addCheck("generateGrid", tr("Make grid previews"));
    addCheck("useOldStyleNames", tr("Use the provider's channel names"));

    auto addSpin = [&](const QString &key, const QString &label, int min, int max) {
        auto *spin = new QSpinBox;
        spin->setObjectName(key);
        spin->setRange(min, max);
        connect(spin, &QSpinBox::valueChanged, this, [key](int v) { Settings::setValue(key, v); });
        loaders_.push_back([spin, key] {
            const QSignalBlocker block(spin);
            spin->setValue(Settings::integer(key));
        });
        form->addRow(label, spin);
        return spin;
    };
    addSpin("keywordPadStart", tr("New rule start padding (min):"), -99, 99);
    addSpin("keywordPadEnd", tr("New rule end padding (min):"), -99, 99);

    addCheck("autoRun", tr("Fetch and upload every day"));
    auto *time = new QTimeEdit;
    time->setObjectName("autoRunTime");
    time->setDisplayFormat(QStringLiteral("HH:mm"));
    connect(time, &QTimeEdit::timeChanged, this, [](QTime t) {
        Settings::setValue("autoRunTime", QDateTime(QDate(2001, 1, 1), t));
    });
    loaders_.push_back([time] {
        const QSignalBlocker block(time);
        time->setTime(Settings::date("autoRunTime").toLocalTime().time());
    });
    form->addRow(tr("Daily run at:"), time);

    auto *days = new QLineEdit;
    days->setObjectName("daysToLoad");
    days->setValidator(new QIntValidator(1, 99, days));
    connect(days, &QLineEdit::textEdited, this, [](const QString &v) {
        Settings::setValue("daysToLoad", v);
    });
    loaders_.push_back([days] { days->setText(Settings::string("daysToLoad")); });
    form->addRow(tr("Days to load (scripts):"), days);
    addSpin("PublishTimeout", tr("FTP time-out (s):"), 0, 3600);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &PreferencesDialog::closePrefsSheet);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void PreferencesDialog::loadFromSettings()
{
    for (const auto &load : loaders_)
        load();
}

void PreferencesDialog::openPrefsSheet()
{
    loadFromSettings();
    open();
}

void PreferencesDialog::closePrefsSheet()
{
    controller_->closePrefsSheet();
    done(1);
}
