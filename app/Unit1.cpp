#include "app/Unit1.h"

#include "app/Unit2.h"
#include "app/calibration.h"
#include "app/export.h"
#include "app/plot.h"
#include "app/porthint.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "toolkit/devicechange.h"
#include "toolkit/extctrls.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtdesktop.h"
#include "toolkit/qt/qtguard.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolButton>

TForm1* Form1 = nullptr;

namespace {

const QColor Red(255, 0, 0);
const QColor Navy(0, 0, 128);

QFont PixelFont(const QFont& Base, int Pixels, bool Bold)
{
    QFont f = Base;
    f.setPixelSize(Pixels);
    f.setBold(Bold);
    return f;
}

void SetTextColor(QWidget* W, const QColor& C)
{
    QPalette p = W->palette();
    p.setColor(QPalette::WindowText, C);
    p.setColor(QPalette::Text, C);
    W->setPalette(p);
}

// A panel without bevels: 2 px border, 3 px bevel spacing, centred caption.
QLabel* Panel(QWidget* Parent, const QRect& Bounds, const QColor& TextColor)
{
    auto* panel = new QLabel(Parent);
    panel->setGeometry(Bounds);
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    panel->setContentsMargins(5, 5, 5, 5);
    QPalette p = panel->palette();
    p.setColor(QPalette::Window, InactiveCaptionTextColor());
    p.setColor(QPalette::WindowText, TextColor);
    panel->setPalette(p);
    panel->setFont(PixelFont(Parent->font(), 19, true));
    return panel;
}

// List items of a fixed height, like an owner list box's ItemHeight.
class TFixedHeightDelegate : public QStyledItemDelegate {
public:
    TFixedHeightDelegate(int Height, QObject* Parent) : QStyledItemDelegate(Parent), fHeight(Height) {}
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(Option, Index).width(), fHeight);
    }

private:
    int fHeight;
};

}  // namespace

QLabel* AutoSizeLabel(QWidget* Parent, const char* Text, int Left, int Top)
{
    auto* label = new QLabel(QString::fromUtf8(Text), Parent);
    label->move(Left, Top);
    label->adjustSize();
    return label;
}

UnicodeString EditText(const QLineEdit* Edit)
{
    return FromQString(Edit->text());
}

void SetEditText(QLineEdit* Edit, const UnicodeString& Text)
{
    const QString t = ToQString(Text);
    if (Edit->text() != t)
        Edit->setText(t);
}

// --- TImage ------------------------------------------------------------------

TImage::TImage(QWidget* Parent) : QWidget(Parent) {}

QImage& TImage::Picture()
{
    if (fPicture.isNull()) {
        fPicture = QImage(width(), height(), QImage::Format_ARGB32);
        fPicture.fill(Qt::transparent);
    }
    return fPicture;
}

void TImage::paintEvent(QPaintEvent*)
{
    if (fPicture.isNull())
        return;
    QPainter p(this);
    p.drawImage(0, 0, fPicture);
}

// --- TUpDown -----------------------------------------------------------------

TUpDown::TUpDown(QWidget* Parent, QLineEdit* Buddy) : QWidget(Parent), fBuddy(Buddy)
{
    fUp = new QToolButton(this);
    fUp->setArrowType(Qt::UpArrow);
    fDown = new QToolButton(this);
    fDown->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {fUp, fDown}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
    }
    QObject::connect(fUp, &QToolButton::clicked, this, Guarded([this] { Step(true); }));
    QObject::connect(fDown, &QToolButton::clicked, this, Guarded([this] { Step(false); }));
}

void TUpDown::SetPosition(int Value)
{
    fPosition = std::clamp(Value, Min, Max);
    if (fBuddy)
        SetEditText(fBuddy, IntToStr(fPosition));
}

void TUpDown::Step(bool Up)
{
    // Like the system's up-down control: the buddy's text is the current
    // position when it holds an integer.
    int current = fPosition;
    if (fBuddy && TryStrToInt(EditText(fBuddy), current))
        fPosition = std::clamp(current, Min, Max);
    SetPosition(fPosition + (Up ? Increment : -Increment));
}

// --- TSaveTextFileDialog -------------------------------------------------------

bool TSaveTextFileDialog::Execute()
{
    UnicodeString chosen = FileName;
    if (ExecuteHook) {
        if (!ExecuteHook(chosen))
            return false;
        FileName = chosen;
        return true;
    }
    const QString name = QFileDialog::getSaveFileName(fParent, QString(), ToQString(FileName), QString(),
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty())
        return false;
    FileName = FromQString(QDir::toNativeSeparators(name));
    return true;
}

// --- TForm1 --------------------------------------------------------------------

TForm1::TForm1()
    : QMainWindow(nullptr), TComponent(nullptr), SaveTextFileDialog1(this), fSelf(std::make_shared<TForm1*>(this))
{
    SetName(u"Form1");
    Form1 = this;
    CreateControls();
    ApplyStoredSettings();
    FormCreate(this);
}

TForm1::~TForm1()
{
    // The close below reports to nobody.
    *fSelf = nullptr;
    fDeviceChanges.reset();
    fPortCheck.reset();
    // The components (nrComm1 closes its port and stops its threads) go
    // before the widgets that their handlers touch.
    DestroyComponents();
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::CreateControls()
{
    setWindowTitle(QStringLiteral("Spektrometer *Datenaufnahme*"));
    setWindowIcon(QIcon(QStringLiteral(":/spectrometer.png")));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    auto* client = new QWidget(this);
    client->setFixedSize(390, 346);
    setCentralWidget(client);

    // Components first: the device box needs nrComm1.
    nrComm1 = new TnrComm(this);
    nrComm1->SetName(u"nrComm1");
    TTemp = new TTimer(this);
    TTemp->SetName(u"TTemp");

    nrDeviceBox1 = new TnrDeviceBox(this, client);
    nrDeviceBox1->SetName(u"nrDeviceBox1");
    nrDeviceBox1->setGeometry(24, 16, 110, 21);

    ProtokollButton = new QPushButton(QStringLiteral("Protokoll"), client);
    ProtokollButton->setGeometry(150, 15, 59, 23);

    Label1 = AutoSizeLabel(client, "Datenempfang", 24, 43);

    ListBox1 = new QListWidget(client);
    ListBox1->setGeometry(24, 62, 185, 179);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new TFixedHeightDelegate(13, ListBox1));

    bSend = new QPushButton(QStringLiteral("Aufnahme"), client);
    bSend->setGeometry(24, 247, 185, 25);
    CLButton = new QPushButton(QStringLiteral("Listbox löschen"), client);
    CLButton->setGeometry(24, 271, 185, 25);

    Label4 = AutoSizeLabel(client, "Temperatur in ° C", 240, 19);
    Label4->setFont(PixelFont(font, 13, true));
    SetTextColor(Label4, Red);
    Label4->adjustSize();
    C_Panel = Panel(client, QRect(240, 43, 121, 41), Red);

    Label5 = AutoSizeLabel(client, "Temperatur in °F", 240, 91);
    Label5->setFont(PixelFont(font, 13, true));
    SetTextColor(Label5, Navy);
    Label5->adjustSize();
    F_Panel = Panel(client, QRect(240, 115, 121, 41), Navy);

    LECapture = new QLineEdit(QStringLiteral("10"), client);
    LECapture->setGeometry(240, 181, 106, 21);
    // The edit's label sits above it, 3 px apart.
    LECaptureLabel = new QLabel(QStringLiteral("Belichtungszeit(ms):"), client);
    LECaptureLabel->adjustSize();
    LECaptureLabel->move(240, 181 - LECaptureLabel->height() - 3);
    LECaptureLabel->setBuddy(LECapture);

    Edit1 = new QLineEdit(QStringLiteral("10"), client);
    Edit1->setGeometry(240, 181, 106, 21);
    Edit1->hide();

    UpDown1 = new TUpDown(client, Edit1);
    UpDown1->setGeometry(346, 181, 16, 21);
    UpDown1->UpButton()->setGeometry(0, 0, 16, 11);
    UpDown1->DownButton()->setGeometry(0, 11, 16, 10);
    UpDown1->Min = 0;
    UpDown1->Max = 300;
    UpDown1->Increment = 5;
    UpDown1->SetPosition(10);

    Image1 = new TImage(client);
    Image1->setGeometry(215, 208, 167, 88);

    Label2 = AutoSizeLabel(client, "Befehlszeile:", 215, 310);

    eSend = new QLineEdit(QStringLiteral("s1000"), client);
    eSend->setGeometry(280, 302, 81, 28);
    eSend->setFont(PixelFont(font, 16, true));
    SetTextColor(eSend, Red);

    QMenuBar* menu = menuBar();
    Datei1 = menu->addMenu(QStringLiteral("Datei"));
    Speichern1 = Datei1->addAction(QStringLiteral("Speichern"));
    Speichern1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    Eichung1 = Datei1->addAction(QStringLiteral("Eichung"));
    Beenden1 = Datei1->addAction(QStringLiteral("Beenden"));
    Beenden1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    Info1 = menu->addAction(QStringLiteral("Info"));

    // Every handler runs inside the event loop's guard.
    connect(ProtokollButton, &QPushButton::clicked, this, Guarded([this] { ProtokollButtonClick(this); }));
    connect(bSend, &QPushButton::clicked, this, Guarded([this] { bSendClick(this); }));
    connect(CLButton, &QPushButton::clicked, this, Guarded([this] { CLButtonClick(this); }));
    connect(LECapture, &QLineEdit::textChanged, this, Guarded([this] { LECaptureChange(this); }));
    connect(Edit1, &QLineEdit::textChanged, this, Guarded([this] { Edit1Change(this); }));
    LECapture->installEventFilter(this);
    connect(Speichern1, &QAction::triggered, this, Guarded([this] { Speichern1Click(this); }));
    connect(Eichung1, &QAction::triggered, this, Guarded([this] { Eichung1Click(this); }));
    connect(Beenden1, &QAction::triggered, this, Guarded([this] { Beenden1Click(this); }));
    connect(Info1, &QAction::triggered, this, Guarded([this] { Info1Click(this); }));

    move(207, 141);
}

void TForm1::ApplyStoredSettings()
{
    // The window's stored settings, applied in the loading state; the end of
    // loading lets each component act on them (LoadingFinished).
    BeginLoading();
    nrComm1->SetActive(false);
    nrComm1->SetBaudRate(9600);
    nrComm1->SetParity(pNone);
    nrComm1->SetStopBits(sbOne);
    nrComm1->SetByteSize(8);
    nrComm1->SetComPortNo(1);
    nrComm1->SetTraceStates(TTraceStates{tsRxChar});
    nrComm1->SetEventChar(u'\0');
    nrComm1->SetStreamProtocol(spNone);
    nrComm1->SetBufferInSize(4096);
    nrComm1->SetBufferOutSize(4096);
    nrComm1->SetTimeoutRead(0);
    nrComm1->SetTimeoutWrite(100);
    nrComm1->SetRS485Mode(false);
    nrComm1->SetEnumPorts(epQuickAll);
    nrComm1->SetUseMainThread(true);
    nrComm1->SetTerminalUsage(tuNone);
    nrComm1->SetTerminalEcho(true);
    nrComm1->SetOnAfterReceive(MethodOf(this, &TForm1::nrComm1AfterReceive));
    nrComm1->SetOnClose(MethodOf(this, &TForm1::nrComm1Close));
    TTemp->SetInterval(60000);
    TTemp->SetEnabled(true);
    TTemp->SetOnTimer(MethodOf(this, &TForm1::TTempTimer));
    nrDeviceBox1->SetResetOnChanged(false);
    nrDeviceBox1->OnChange = MethodOf(this, &TForm1::nrDeviceBox1Change);
    EndLoading();
    // References between components are resolved once all exist.
    nrDeviceBox1->SetnrComm(nrComm1);
}

void TForm1::FormCreate(TObject*)
{
    PointCount = 0;
    FormatSettings.DecimalSeparator = u'.';
    // A missing or bad calibration file is reported; the window opens anyway.
    GuardedCall([] {
        PrepareCalibrationFile(ProgramDirectory());
        LoadCalibration(CalibrationFilePath(ProgramDirectory()), CalSlope, CalOffset);
    });
    // Without a watch the list stays as built; reported, the window opens anyway.
    GuardedCall([this] {
        fDeviceChanges = std::make_unique<TDeviceChangeWatch>([this](const MSG& Msg) {
            nrDeviceBox1->WMDeviceChange(Msg);
        });
    });
}

UnicodeString TForm1::ProgramDirectory()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return FromQString(dir);
}

void TForm1::nrDeviceBox1Change(TObject*)
{
    try {
        nrComm1->SetActive(true);
    } catch (Exception& e) {
        // The component's message stays; below it, how to get access.
        const UnicodeString hint = PortAccessHint(nrComm1->GetComName());
        if (!hint.empty())
            e.SetMessage(e.Message() + u"\r\n\r\n" + hint);
        throw;
    }
    fOpenedPortNo = nrComm1->GetComPortNo();
    TTemp->SetEnabled(false);
    TTemp->SetInterval(2000);
    TTemp->SetEnabled(true);
}

void TForm1::TTempTimer(TObject*)
{
    SetEditText(eSend, u"t");
    bSendClick(this);
    TTemp->SetEnabled(false);
}

void TForm1::bSendClick(TObject*)
{
    ListBox1->clear();
    PointCount = 0;
    nrComm1->SendString(CommandBytes(EditText(eSend)));
}

void TForm1::CLButtonClick(TObject*)
{
    ListBox1->clear();
}

void TForm1::ProtokollButtonClick(TObject*)
{
    nrComm1->ConfigDialog();
}

void TForm1::Eichung1Click(TObject*)
{
    Form2->show();
    Form2->raise();
}

UnicodeString TForm1::InfoText()
{
    return u"Software zum Einlesen von Velm-Schulspektren\rSpektrometer-Team, 2026\rLizenz: MIT";
}

void TForm1::Info1Click(TObject*)
{
    Application->MessageBox(InfoText(), Application->Title, MsgBox::Ok);
}

void TForm1::Beenden1Click(TObject*)
{
    close();
}

void TForm1::LECaptureChange(TObject*)
{
    SetEditText(eSend, CaptureCommandFor(EditText(LECapture)));
}

void TForm1::LECaptureKeyUp(TObject*)
{
    SetEditText(Edit1, TenthsFromExposure(EditText(LECapture)));
}

void TForm1::Edit1Change(TObject*)
{
    SetEditText(LECapture, ExposureFromTenths(EditText(Edit1)));
    if (StrToFloat(EditText(LECapture)) > MaxExposureMs)
        SetEditText(Edit1, u"300");
}

bool TForm1::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == LECapture && Event->type() == QEvent::KeyRelease) {
        // Held keys repeat presses but are released once.
        if (!static_cast<QKeyEvent*>(Event)->isAutoRepeat())
            GuardedCall([this] { LECaptureKeyUp(this); });
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TForm1::nrComm1AfterReceive(TObject*, const std::uint8_t* Buffer, std::uint32_t Received)
{
    FrameReceivedBytes(Buffer, Received, [this](const UnicodeString& Line) { Empfangspakete(Line); });
}

void TForm1::nrComm1Close(TObject*)
{
    // Also a close inside a property write (another port picked): the check
    // runs after that has reopened the port.
    TThread::Queue([self = fSelf] {
        if (TForm1* form = *self)
            form->fPortCheck = Application->StartTimer(0, [form] { form->CheckPortLost(); });
    });
}

void TForm1::CheckPortLost()
{
    fPortCheck.reset();
    if (fOpenedPortNo == 0 || nrComm1->GetActive() || nrComm1->GetComPortNo() != fOpenedPortNo)
        return;
    const UnicodeString name = nrComm1->GetComName();
    fOpenedPortNo = 0;
    // Half a line of the lost reply must not become the start of the next one;
    // the list keeps the points that arrived.
    ResetLineFraming();
    // No port selected in the box: picking the port again opens it.
    nrComm1->SetComPortNo(0);
    Application->MessageBox(Format(u"Die Verbindung zu %s wurde unterbrochen.", {name}), Application->Title,
                            MsgBox::Ok | MsgBox::IconWarning);
}

void TForm1::Empfangspakete(const UnicodeString& S)
{
    InterpretReplyLine(S, *this);
}

void TForm1::DrawSpectrum()
{
    QImage& bitmap = Image1->Picture();
    const int W = bitmap.width();
    const int H = bitmap.height();
    const TSpectrumPlot plot = ComputeSpectrumPlot(Counts, W, H);
    {
        QPainter p(&bitmap);
        p.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(QColor(0, 0, 0));
        pen.setWidth(1);
        pen.setCosmetic(true);
        p.setPen(pen);
        p.setBrush(QColor(255, 255, 255));
        // Filled white and framed: the frame takes columns 0 and W - 1, rows 0 and H - 1.
        p.fillRect(0, 0, W, H, QColor(255, 255, 255));
        p.drawRect(0, 0, W - 1, H - 1);
        pen.setColor(QColor(255, 0, 0));
        p.setPen(pen);
        QPoint from(plot.Start.X, plot.Start.Y);
        for (const TPlotPoint& to : plot.Points) {
            p.drawLine(from, QPoint(to.X, to.Y));
            from = QPoint(to.X, to.Y);
        }
        if (ScanMode != 0) {
            pen.setColor(QColor(0, 0, 255));
            p.setPen(pen);
            p.drawLine(QPoint(plot.MarkerX, 0), QPoint(plot.MarkerX, H));
        }
    }
    Image1->update();
    if (ScanMode == 0)
        return;
    Image1->repaint();
    Application->MessageBox(PeakMessage(plot), Application->Title, MsgBox::Ok);
    if (!Form2)
        return;
    if (ScanMode == 1)
        SetEditText(Form2->EI1, IntToStr(plot.Peak));
    else
        SetEditText(Form2->EI2, IntToStr(plot.Peak));
}

void TForm1::Speichern1Click(TObject*)
{
    if (!SaveTextFileDialog1.Execute())
        return;
    const UnicodeString path = ExportFileName(SaveTextFileDialog1.FileName);
    SaveTextFileDialog1.FileName = path;
    std::vector<UnicodeString> lines;
    lines.reserve(static_cast<std::size_t>(ListBox1->count()));
    for (int i = 0; i < ListBox1->count(); ++i)
        lines.push_back(FromQString(ListBox1->item(i)->text()));
    WriteSpectrumFile(path, CaptureTime, lines);
}

// --- the view the line interpreter works on ---------------------------------------

UnicodeString TForm1::CommandText() const
{
    return EditText(eSend);
}

void TForm1::SetCommandText(const UnicodeString& S)
{
    SetEditText(eSend, S);
}

UnicodeString TForm1::ExposureText() const
{
    return EditText(LECapture);
}

void TForm1::AddListLine(const UnicodeString& S)
{
    ListBox1->addItem(ToQString(S));
}

void TForm1::ClearList()
{
    ListBox1->clear();
}

void TForm1::SetCelsiusText(const UnicodeString& S)
{
    C_Panel->setText(ToQString(S));
}

void TForm1::SetFahrenheitText(const UnicodeString& S)
{
    F_Panel->setText(ToQString(S));
}

void TForm1::SpectrumComplete()
{
    DrawSpectrum();
}
