#pragma once

#include "ui/Dialog.h"

#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;

// "Service Provider Details": the provider's name, the number dialled to reach it,
// its serial line settings, the password its paging terminal asks for at log-on
// (typed masked) and whether it is the default provider. The caller
// presets the five numbers and the texts, runs the dialog and uses the members only
// after OK. On closing, after OK and after Cancel alike, the selections are turned
// back into numbers.
class CServiceProviderDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CServiceProviderDlg(QWidget* parent = nullptr);
    ~CServiceProviderDlg() override;

    std::int32_t m_nStopBits = 0; // 1 or 2
    std::int32_t m_nParity = 0; // 0 None, 1 Even, 2 Odd; -1 when none was chosen
    std::int32_t m_nDataBits = 0; // 7 or 8
    std::int32_t m_nBaudRate = 0; // bits per second
    QString m_strAccessNumber;
    QString m_strName;
    std::int32_t m_bUseAsDefault = 0; // 1 when "Use as default" is ticked
    QString m_strPassword; // empty: the log-on carries none

    // The log-on carries at most this many letters and digits.
    static constexpr int kMaxPasswordLength = 6;
    static inline const QString kBadPassword
        = QStringLiteral("The password can have at most 6 characters, letters and digits "
                         "only, as the paging terminal's log-on takes it.");
    static bool IsValidPassword(const QString& password);
    // A provider reached by URL logs in with its own protocol, which carries more.
    static constexpr int kMaxUrlPasswordLength = 64;
    static inline const QString kBadUrlPassword
        = QStringLiteral("For a provider reached by URL the password can have at most 64 "
                         "characters: letters, digits and punctuation, no spaces.");
    // As above, or as a provider reached by URL takes it when the access number is one.
    static bool IsValidPassword(const QString& password, const QString& accessNumber);

    // OK: an access number that cannot be called (a malformed URL among them) or a
    // password the log-on cannot carry is told and the dialog stays open.
    void accept() override;
    void done(int result) override;

protected:
    // Shows the members, as the caller preset them after construction.
    bool OnInitDialog() override;
    // Reads the texts and turns the selections into the numbers.
    void OnDestroy();

private:
    void CreateControls();
    // What the dialog says of an access number that cannot be called; nothing when it can.
    static std::optional<QString> AccessNumberRefusal(const QString& accessNumber);

    QCheckBox* m_checkDefault = nullptr;
    QComboBox* m_comboStopBits = nullptr;
    QComboBox* m_comboParity = nullptr;
    QComboBox* m_comboDataBits = nullptr;
    QComboBox* m_comboBaudRate = nullptr;
    QLineEdit* m_editAccessNumber = nullptr;
    QLineEdit* m_editName = nullptr;
    QLineEdit* m_editPassword = nullptr;
};
