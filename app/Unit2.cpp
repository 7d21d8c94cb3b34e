#include "app/Unit2.h"

#include "app/Unit1.h"
#include "app/acquisition.h"
#include "app/calibration.h"
#include "toolkit/qt/qtguard.h"

#include <QCloseEvent>
#include <QHideEvent>
#include <QKeyEvent>

TForm2* Form2 = nullptr;

namespace {
QLineEdit* PlacedEdit(QWidget* Parent, const char* Text, int Left, int Top)
{
    auto* edit = new QLineEdit(QString::fromUtf8(Text), Parent);
    edit->setGeometry(Left, Top, 65, 21);
    return edit;
}
}  // namespace

TForm2::TForm2(QWidget* Parent) : QDialog(Parent), TComponent(nullptr)
{
    SetName(u"Form2");
    Form2 = this;
    setWindowTitle(QStringLiteral("Eichung"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(281, 206);
    move(0, 0);
    setModal(false);

    Label1 = AutoSizeLabel(this, "Wellenlänge 1(nm):", 16, 27);
    EW1 = PlacedEdit(this, "532", 115, 24);
    Button1 = new QPushButton(QStringLiteral("Scan1"), this);
    Button1->setGeometry(192, 22, 75, 25);
    Label2 = AutoSizeLabel(this, "Wellenlänge 2(nm):", 16, 58);
    EW2 = PlacedEdit(this, "655", 115, 55);
    Button2 = new QPushButton(QStringLiteral("Scan2"), this);
    Button2->setGeometry(192, 53, 75, 25);
    Label3 = AutoSizeLabel(this, "MaxIndex 1:", 16, 107);
    EI1 = PlacedEdit(this, "57", 115, 104);
    Label4 = AutoSizeLabel(this, "MaxIndex 2:", 16, 134);
    EI2 = PlacedEdit(this, "114", 115, 131);
    // Docked to the bottom edge, full width.
    Button3 = new QPushButton(QStringLiteral("Eichung speichern"), this);
    Button3->setGeometry(0, 168, 281, 38);
    // Enter in a field must not press a button by itself.
    for (QPushButton* b : {Button1, Button2, Button3})
        b->setAutoDefault(false);

    connect(Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(this); }));
    connect(Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(this); }));
    connect(Button3, &QPushButton::clicked, this, Guarded([this] { Button3Click(this); }));
}

TForm2::~TForm2()
{
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::Scan(std::uint8_t Mode)
{
    ScanMode = Mode;
    SetEditText(Form1->eSend, u"s");
    Form1->bSendClick(this);
}

void TForm2::Button1Click(TObject*)
{
    Scan(1);
}

void TForm2::Button2Click(TObject*)
{
    Scan(2);
}

void TForm2::Button3Click(TObject*)
{
    const double a = StrToFloat(EditText(EW1));
    const double b = StrToFloat(EditText(EW2));
    const double c = StrToFloat(EditText(EI1));
    const double d = StrToFloat(EditText(EI2));
    const TCalibration cal = ComputeCalibration(a, b, c, d);
    CalSlope = cal.Slope;
    CalOffset = cal.Offset;
    SaveCalibration(CalibrationFilePath(TForm1::ProgramDirectory()), CalSlope, CalOffset);
    hide();
}

void TForm2::FormClose(TObject*)
{
    ScanMode = 0;
}

void TForm2::FormHide(TObject*)
{
    ScanMode = 0;
}

void TForm2::closeEvent(QCloseEvent* Event)
{
    GuardedCall([this] { FormClose(this); });
    QDialog::closeEvent(Event);
}

void TForm2::keyPressEvent(QKeyEvent* Event)
{
    // A dialog without a cancel button: Esc does not close it (only its close
    // box and "Eichung speichern" do), so a scan keeps its mode.
    if (Event->matches(QKeySequence::Cancel)) {
        Event->accept();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void TForm2::hideEvent(QHideEvent* Event)
{
    // Only the program hides it; a minimised owner does not end the scan.
    if (!Event->spontaneous())
        GuardedCall([this] { FormHide(this); });
    QDialog::hideEvent(Event);
}
