#pragma once

#include "platform/interfaces.h"

#include <QString>
#include <QVariant>

class QObject;
class QWidget;

namespace bw::host {

// The default language component, "Quenby.Lexicon": fills the placeholders of catalogue
// texts and puts a window's design captions into the user-interface language.
class Lexicon : public ILanguage {
public:
    QString ReplaceRes(const QString& templ, short count, const QVariant& v1,
                       const QVariant& v2 = QVariant()) override;
    void LoadControlInfo(ConnectionPtr& cn, const QString& project, QWidget* form,
                         int& result) override;

    // The 1028 text of a design caption of the terminal-management window, or a null
    // string when the caption is not one of them.
    static QString traditionalCaption(const QString& simplified);
    // Turns every known design caption of form and of everything under it into lang's
    // texts; returns how many texts were changed.
    static int translateCaptions(QWidget* form, int lang);
};

// Registers "Quenby.Lexicon" in bw::Registry.
void registerLexicon();

} // namespace bw::host
