// Unit2: the calibration dialog TForm2 — two scans, slope and offset, the file.
#pragma once

#include "toolkit/classes.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TForm2 : public QDialog, public TComponent {
    Q_OBJECT
public:
    explicit TForm2(QWidget* Parent = nullptr);
    ~TForm2() override;

    QLabel* Label1;
    QLineEdit* EW1;
    QPushButton* Button1;
    QLabel* Label2;
    QLineEdit* EW2;
    QPushButton* Button2;
    QLabel* Label3;
    QLineEdit* EI1;
    QLabel* Label4;
    QLineEdit* EI2;
    QPushButton* Button3;

    void Button1Click(TObject* Sender);
    void Button2Click(TObject* Sender);
    void Button3Click(TObject* Sender);
    void FormClose(TObject* Sender);
    void FormHide(TObject* Sender);

protected:
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

private:
    void Scan(std::uint8_t Mode);
};

extern TForm2* Form2;
