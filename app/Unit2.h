// Unit2: the calibration dialog TForm2 — two scans, slope and offset, the file.
#pragma once

#include "toolkit/stdctrls.h"

class TForm2 : public TForm {
public:
    explicit TForm2(TComponent* AOwner = nullptr);
    ~TForm2() override;

    TLabel* Label1;
    TEdit* EW1;
    TButton* Button1;
    TLabel* Label2;
    TEdit* EW2;
    TButton* Button2;
    TLabel* Label3;
    TEdit* EI1;
    TLabel* Label4;
    TEdit* EI2;
    TButton* Button3;

    void Button1Click(TObject* Sender);
    void Button2Click(TObject* Sender);
    void Button3Click(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormHide(TObject* Sender);

private:
    void Scan(std::uint8_t Mode);
};

extern TForm2* Form2;
