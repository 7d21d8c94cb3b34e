#include "app/automation.h"

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "toolkit/qt/qtapplication.h"

#include <winapi.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QTextStream>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

namespace {

// Open handles of the process (ports, events; on Windows all kernel objects).
unsigned long OpenHandles()
{
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count))
        return 0;
    return count;
}

class TAutomation {
public:
    explicit TAutomation(QStringList Lines) : fLines(std::move(Lines)) {}

    void InstallMessageBoxHook()
    {
        if (auto* qt = dynamic_cast<TQtApplication*>(Application)) {
            qt->MessageBoxHook = [this](const UnicodeString& Text, const UnicodeString&, int) {
                QString t = ToQString(Text);
                t.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
                Out(QStringLiteral("message ") + t);
                ++fMessages;
                return MsgBox::IdOk;
            };
        }
    }

    void Run(TForm1* Form)
    {
        fForm = Form;
        int lineNo = 0;
        for (const QString& raw : fLines) {
            ++lineNo;
            const QString line = raw.section(QLatin1Char('#'), 0, 0).trimmed();
            if (line.isEmpty())
                continue;
            if (!line.startsWith(QLatin1String("wait message")))
                fMessageMark = fMessages;
            QString error;
            if (!Action(line, error)) {
                Out(QStringLiteral("error line %1: %2: %3").arg(lineNo).arg(line, error));
                QApplication::exit(1);
                return;
            }
            if (fQuit)
                return;
        }
    }

private:
    static void Out(const QString& S)
    {
        std::fputs((S + QLatin1Char('\n')).toUtf8().constData(), stdout);
        std::fflush(stdout);
    }

    // The object of that name in Table, or null.
    template <class T>
    static T* Named(const QString& Name, std::initializer_list<std::pair<const char*, T*>> Table)
    {
        for (const auto& [name, object] : Table)
            if (Name == QLatin1String(name))
                return object;
        return nullptr;
    }

    QLineEdit* Edit(const QString& Name) const
    {
        return Named<QLineEdit>(Name, {{"LECapture", fForm->LECapture}, {"eSend", fForm->eSend},
                                       {"Edit1", fForm->Edit1}, {"EW1", Form2->EW1}, {"EW2", Form2->EW2},
                                       {"EI1", Form2->EI1}, {"EI2", Form2->EI2}});
    }

    QAbstractButton* Button(const QString& Name) const
    {
        return Named<QAbstractButton>(Name, {{"bSend", fForm->bSend}, {"CLButton", fForm->CLButton},
                                             {"ProtokollButton", fForm->ProtokollButton},
                                             {"Button1", Form2->Button1}, {"Button2", Form2->Button2},
                                             {"Button3", Form2->Button3}});
    }

    QAction* MenuItem(const QString& Name) const
    {
        return Named<QAction>(Name, {{"Speichern1", fForm->Speichern1}, {"Eichung1", fForm->Eichung1},
                                     {"Beenden1", fForm->Beenden1}, {"Info1", fForm->Info1}});
    }

    static bool Wait(const std::function<bool()>& Predicate, int Ms)
    {
        return Application->WaitUntil(Predicate, std::chrono::milliseconds(Ms));
    }

    bool Action(const QString& Line, QString& Error)
    {
        const QString verb = Line.section(QLatin1Char(' '), 0, 0);
        const QString arg1 = Line.section(QLatin1Char(' '), 1, 1);
        const QString rest = Line.section(QLatin1Char(' '), 2);
        const QString afterVerb = Line.section(QLatin1Char(' '), 1);
        auto timeout = [&](const QString& S) { return S.isEmpty() ? 10000 : S.toInt(); };

        if (verb == QLatin1String("select")) {
            TnrDeviceBox* box = fForm->nrDeviceBox1;
            const int i = box->findText(arg1, Qt::MatchFixedString);
            if (i < 0) {
                QStringList items;
                for (int k = 0; k < box->count(); ++k)
                    items << box->itemText(k);
                Error = QStringLiteral("no such port; the box lists: ") + items.join(QLatin1Char(' '));
                return false;
            }
            box->setCurrentIndex(i);
            emit box->activated(i);
            return true;
        }
        if (verb == QLatin1String("set") || verb == QLatin1String("type")) {
            QLineEdit* e = Edit(arg1);
            if (!e) {
                Error = QStringLiteral("no such edit");
                return false;
            }
            if (verb == QLatin1String("set")) {
                e->setText(rest);
                return true;
            }
            e->setFocus();
            for (QChar c : rest) {
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                QApplication::sendEvent(e, &press);
                QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
                QApplication::sendEvent(e, &release);
            }
            return true;
        }
        if (verb == QLatin1String("click")) {
            QAbstractButton* b = Button(arg1);
            if (!b) {
                Error = QStringLiteral("no such button");
                return false;
            }
            b->click();
            return true;
        }
        if (verb == QLatin1String("menu")) {
            QAction* a = MenuItem(arg1);
            if (!a) {
                Error = QStringLiteral("no such menu item");
                return false;
            }
            if (a == fForm->Beenden1)
                fQuit = true;
            a->trigger();
            return true;
        }
        if (verb == QLatin1String("savename")) {
            const QString path = afterVerb;
            fForm->SaveTextFileDialog1.ExecuteHook = [path](UnicodeString& FileName) {
                if (path == QLatin1String("-"))
                    return false;
                FileName = FromQString(path);
                return true;
            };
            return true;
        }
        if (verb == QLatin1String("wait")) {
            if (arg1 == QLatin1String("temperature")) {
                if (!Wait([this] { return !fForm->C_Panel->text().isEmpty() && !fForm->F_Panel->text().isEmpty(); },
                          timeout(rest))) {
                    Error = QStringLiteral("no temperature");
                    return false;
                }
                Out(QStringLiteral("temperature %1 %2").arg(fForm->C_Panel->text(), fForm->F_Panel->text()));
                return true;
            }
            if (arg1 == QLatin1String("points")) {
                const int n = rest.section(QLatin1Char(' '), 0, 0).toInt();
                if (!Wait([this, n] { return fForm->ListBox1->count() >= n; },
                          timeout(rest.section(QLatin1Char(' '), 1, 1)))) {
                    Error = QStringLiteral("%1 of %2 points").arg(fForm->ListBox1->count()).arg(n);
                    return false;
                }
                return true;
            }
            if (arg1 == QLatin1String("message")) {
                // A box shown since the previous action began (or the previous wait ended).
                if (!Wait([this] { return fMessages > fMessageMark; }, timeout(rest))) {
                    Error = QStringLiteral("no message box");
                    return false;
                }
                fMessageMark = fMessages;
                return true;
            }
            if (arg1 == QLatin1String("port")) {
                const QString com = rest.section(QLatin1Char(' '), 0, 0);
                TnrDeviceBox* box = fForm->nrDeviceBox1;
                if (!Wait([box, com] { return box->findText(com, Qt::MatchFixedString) >= 0; },
                          timeout(rest.section(QLatin1Char(' '), 1, 1)))) {
                    Error = QStringLiteral("the box does not list ") + com;
                    return false;
                }
                return true;
            }
            if (arg1 == QLatin1String("input")) {
                // Blocks until the driving process writes a line: lets it act
                // between two steps (e.g. change the light source).
                Out(QStringLiteral("waiting"));
                std::string line;
                if (!std::getline(std::cin, line)) {
                    Error = QStringLiteral("standard input closed");
                    return false;
                }
                return true;
            }
            Error = QStringLiteral("unknown wait");
            return false;
        }
        if (verb == QLatin1String("sleep")) {
            Wait([] { return false; }, arg1.toInt());
            return true;
        }
        if (verb == QLatin1String("print")) {
            QString value;
            if (QLineEdit* e = Edit(arg1))
                value = e->text();
            else if (arg1 == QLatin1String("C_Panel"))
                value = fForm->C_Panel->text();
            else if (arg1 == QLatin1String("F_Panel"))
                value = fForm->F_Panel->text();
            else if (arg1 == QLatin1String("handles"))
                value = QString::number(OpenHandles());
            else {
                Error = QStringLiteral("nothing of that name");
                return false;
            }
            Out(QStringLiteral("value %1 %2").arg(arg1, value));
            return true;
        }
        if (verb == QLatin1String("dump") && arg1 == QLatin1String("list")) {
            for (int i = 0; i < fForm->ListBox1->count(); ++i)
                Out(QStringLiteral("list ") + fForm->ListBox1->item(i)->text());
            Out(QStringLiteral("list end"));
            return true;
        }
        if (verb == QLatin1String("screenshot")) {
            if (!fForm->grab().save(afterVerb, "PNG")) {
                Error = QStringLiteral("cannot write the image");
                return false;
            }
            return true;
        }
        if (verb == QLatin1String("quit")) {
            fQuit = true;
            fForm->close();
            return true;
        }
        Error = QStringLiteral("unknown action");
        return false;
    }

    TForm1* fForm = nullptr;
    QStringList fLines;
    int fMessages = 0;
    int fMessageMark = 0;
    bool fQuit = false;
};

std::shared_ptr<TAutomation> Loaded;

}  // namespace

bool LoadAutomation(const QString& ScriptFile)
{
    QFile file(ScriptFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QStringList lines;
    QTextStream in(&file);
    while (!in.atEnd())
        lines << in.readLine();
    Loaded = std::make_shared<TAutomation>(lines);
    Loaded->InstallMessageBoxHook();
    return true;
}

void StartAutomation(TForm1* Form)
{
    if (!Loaded)
        return;
    QTimer::singleShot(0, Form, [automation = Loaded, Form] { automation->Run(Form); });
}
