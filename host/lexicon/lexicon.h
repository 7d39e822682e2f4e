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
    // Moves the bell section of form's terminal frame into an area of its own beside the
    // frame, shows it and widens form by that area; returns how many controls were moved
    // (0 for a form without a bell section or one already moved).
    static int revealBellSection(QWidget* form);
};

// Registers "Quenby.Lexicon" in bw::Registry.
void registerLexicon();

// Puts Qt's own texts (the standard buttons of message boxes, the context menus of text
// fields) into lang's language: Qt's qtbase_zh_CN (2052) or qtbase_zh_TW (1028) translations,
// replacing those loaded before. Returns false when they are not installed on this machine.
bool loadQtTexts(int lang);

// Whether LoadControlInfo moves the bell section into an area of its own beside the terminal
// frame and shows it (off: the window keeps it hidden as designed).
void setBellSectionShown(bool shown);
bool bellSectionShown();

} // namespace bw::host
