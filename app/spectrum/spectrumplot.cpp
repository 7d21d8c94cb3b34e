#include "app/spectrum/spectrumplot.h"

#include "app/spectrum/spectralcolour.h"

#include <algorithm>
#include <cmath>

std::vector<double> AxisTicks(double Lo, double Hi, int MaxTicks)
{
    std::vector<double> ticks;
    if (!(Hi > Lo) || MaxTicks < 1 || !std::isfinite(Hi - Lo)) return ticks;
    const double raw = (Hi - Lo) / MaxTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) {
            step = m * power;
            break;
        }
    for (double t = std::ceil(Lo / step) * step; t <= Hi + step * 1e-9; t += step)
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
    return ticks;
}

int TPlotFrame::XPixel(double X) const
{
    return Area.Left + static_cast<int>(std::lround((X - X0) / (X1 - X0) * (Area.Width() - 1)));
}

int TPlotFrame::YPixel(double Y) const
{
    return Area.Bottom - 1 - static_cast<int>(std::lround((Y - Y0) / (Y1 - Y0) * (Area.Height() - 1)));
}

double TPlotFrame::XValue(int Px) const { return X0 + (Px - Area.Left) * (X1 - X0) / (Area.Width() - 1); }

double TPlotFrame::YValue(int Py) const { return Y0 + (Area.Bottom - 1 - Py) * (Y1 - Y0) / (Area.Height() - 1); }

bool TPlotFrame::Contains(int Px, int Py) const
{
    return Px >= Area.Left && Px < Area.Right && Py >= Area.Top && Py < Area.Bottom;
}

TPlotFrame PlotFrame(int W, int H, double X0, double X1, double Y0, double Y1)
{
    return PlotFrameIn({0, 0, W, H}, X0, X1, Y0, Y1, 1);
}

TPlotFrame PlotFrameIn(const TRect& Box, double X0, double X1, double Y0, double Y1, double Unit)
{
    TPlotFrame f;
    f.Unit = Unit;
    f.Area = {Box.Left + f.U(48), Box.Top + f.U(8), std::max(Box.Right - f.U(10), Box.Left + f.U(60)),
              std::max(Box.Bottom - f.U(34), Box.Top + f.U(30))};
    f.X0 = X0;
    f.X1 = X1 > X0 ? X1 : X0 + 1;
    f.Y0 = Y0;
    f.Y1 = Y1 > Y0 ? Y1 : Y0 + 1;
    return f;
}

namespace {

UnicodeString TickText(double V, double Step)
{
    const int decimals = Step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(Step)));
    TFormatSettings dot;
    dot.DecimalSeparator = u'.';
    return FloatToStrF(V, ffFixed, 15, decimals, dot);
}

// A line clipped to the data area (both ends inside or the part between).
template <class Canvas>
void ClippedLine(Canvas& C, const TRect& A, double X1, double Y1, double X2, double Y2)
{
    // Liang-Barsky on the closed area.
    double t0 = 0, t1 = 1;
    const double dx = X2 - X1, dy = Y2 - Y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {X1 - A.Left, A.Right - 1 - X1, Y1 - A.Top, A.Bottom - 1 - Y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return;
        } else {
            const double t = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
    }
    if (t0 > t1) return;
    C.MoveTo(static_cast<int>(std::lround(X1 + t0 * dx)), static_cast<int>(std::lround(Y1 + t0 * dy)));
    const int ex = static_cast<int>(std::lround(X1 + t1 * dx)), ey = static_cast<int>(std::lround(Y1 + t1 * dy));
    C.LineTo(ex, ey);
    C.SetPixels(ex, ey, C.Pen.Color);  // the screen's LineTo leaves the end point out
}

template <class Canvas>
void Axes(Canvas& C, const TRect& Box, const TPlotFrame& F, const UnicodeString& XTitle, const UnicodeString& YTitle)
{
    const TRect& a = F.Area;
    C.Font.Color = clBlack;
    const auto xt = AxisTicks(F.X0, F.X1, std::max(2, a.Width() / F.U(70)));
    const double xstep = xt.size() > 1 ? xt[1] - xt[0] : 1;
    for (double t : xt) {
        const int x = F.XPixel(t);
        C.Pen.Color = RGB(225, 225, 225);
        C.MoveTo(x, a.Top);
        C.LineTo(x, a.Bottom);
        C.Pen.Color = clBlack;
        C.MoveTo(x, a.Bottom);
        C.LineTo(x, a.Bottom + F.U(4));
        const UnicodeString s = TickText(t, xstep);
        C.TextOut(x - C.TextExtent(s).X / 2, a.Bottom + F.U(5), s);
    }
    const auto yt = AxisTicks(F.Y0, F.Y1, std::max(2, a.Height() / F.U(40)));
    const double ystep = yt.size() > 1 ? yt[1] - yt[0] : 1;
    for (double t : yt) {
        const int y = F.YPixel(t);
        C.Pen.Color = RGB(225, 225, 225);
        C.MoveTo(a.Left, y);
        C.LineTo(a.Right, y);
        C.Pen.Color = clBlack;
        C.MoveTo(a.Left - F.U(4), y);
        C.LineTo(a.Left, y);
        const UnicodeString s = TickText(t, ystep);
        const TPoint e = C.TextExtent(s);
        C.TextOut(a.Left - F.U(6) - e.X, y - e.Y / 2, s);
    }
    C.Brush.Color = clWhite;
    C.Pen.Color = clBlack;
    C.MoveTo(a.Left - 1, a.Top - 1);
    C.LineTo(a.Right, a.Top - 1);
    C.LineTo(a.Right, a.Bottom);
    C.LineTo(a.Left - 1, a.Bottom);
    C.LineTo(a.Left - 1, a.Top - 1);
    C.TextOut(a.Right - C.TextExtent(XTitle).X, Box.Bottom - C.TextExtent(XTitle).Y - 1, XTitle);
    C.TextOut(a.Left + F.U(4), a.Top + F.U(2), YTitle);
}

template <class Canvas>
void FillUnder(Canvas& C, const TPlotFrame& F, const TPlotCurve& Curve)
{
    const TRect& a = F.Area;
    const std::size_t n = std::min(Curve.X.size(), Curve.Y.size());
    // A page's lines are wider than a dot: every other column of them is enough.
    const int step = std::max(1, F.U(1) / 2);
    for (int x = a.Left; x < a.Right && n > 1; x += step) {
        const double v = F.XValue(x);
        // The curve's value at this column, between its points.
        auto it = std::lower_bound(Curve.X.begin(), Curve.X.begin() + static_cast<std::ptrdiff_t>(n), v);
        if (it == Curve.X.begin() || it == Curve.X.begin() + static_cast<std::ptrdiff_t>(n)) continue;
        const std::size_t i = static_cast<std::size_t>(it - Curve.X.begin());
        const double t = (v - Curve.X[i - 1]) / (Curve.X[i] - Curve.X[i - 1]);
        const double y = Curve.Y[i - 1] + t * (Curve.Y[i] - Curve.Y[i - 1]);
        const int top = std::clamp(F.YPixel(y), a.Top, a.Bottom - 1), bottom = std::clamp(F.YPixel(0), a.Top, a.Bottom);
        if (top >= bottom) continue;
        C.Pen.Color = SpectralColour(v);
        C.MoveTo(x, top);
        C.LineTo(x, bottom);
    }
}

template <class Canvas>
void RainbowBand(Canvas& C, const TPlotFrame& F)
{
    const TRect& a = F.Area;
    const int height = std::min(F.U(10), a.Height() / 8);
    const int step = std::max(1, F.U(1) / 2);
    for (int x = a.Left; x < a.Right; x += step) {
        C.Pen.Color = SpectralColour(F.XValue(x));
        C.MoveTo(x, a.Bottom - height);
        C.LineTo(x, a.Bottom);
    }
}

template <class Canvas>
void LineMarkers(Canvas& C, const TPlotFrame& F, const std::vector<TLineMarker>& Markers)
{
    const TRect& a = F.Area;
    const int base = a.Bottom - std::min(F.U(10), a.Height() / 8) - 1;
    const auto u = [&F](int K) { return F.U(K); };
    std::vector<std::pair<int, int>> taken;  // x ranges of the labels drawn
    std::vector<const TLineMarker*> order;
    for (const TLineMarker& m : Markers) order.push_back(&m);
    // Hovered first, then the strongest: they get the room for their labels.
    std::stable_sort(order.begin(), order.end(), [](const TLineMarker* p, const TLineMarker* q) {
        return p->Hover != q->Hover ? p->Hover : p->Length > q->Length;
    });
    for (const TLineMarker* m : order) {
        const int x = F.XPixel(m->X);
        if (x < a.Left || x >= a.Right) continue;
        const int top = base - static_cast<int>(std::lround(std::clamp(m->Length, 0.05, 1.0) * 0.4 * a.Height()));
        C.Pen.Color = C.Brush.Color = m->Color;
        C.MoveTo(x, base);
        C.LineTo(x, top);
        switch (m->Shape % 4) {
        case 1: C.Rectangle(x - u(2), top - u(2), x + u(3), top + u(3)); break;
        case 2:
            C.MoveTo(x - u(3), top);
            C.LineTo(x + u(4), top);
            C.MoveTo(x - u(2), top - u(1));
            C.LineTo(x + u(3), top - u(1));
            C.MoveTo(x - u(1), top - u(2));
            C.LineTo(x + u(2), top - u(2));
            break;
        case 3:
            C.MoveTo(x - u(3), top - u(3));
            C.LineTo(x + u(4), top + u(4));
            C.MoveTo(x + u(3), top - u(3));
            C.LineTo(x - u(4), top + u(4));
            break;
        default: break;
        }
        const TPoint e = C.TextExtent(m->Label);
        const int l = x - e.X / 2, r = l + e.X;
        const bool room = std::none_of(taken.begin(), taken.end(), [&](const std::pair<int, int>& t) {
            return l < t.second + u(2) && r + u(2) > t.first;
        });
        if (!m->Hover && !room) continue;
        taken.push_back({l, r});
        C.Font.Color = m->Color;
        C.TextOut(std::clamp(l, a.Left, std::max(a.Left, a.Right - e.X)), std::max(a.Top, top - u(5) - e.Y), m->Label);
    }
    C.Brush.Color = clWhite;
}

template <class Canvas>
void DrawScene(Canvas& C, const TRect& Box, const TPlotFrame& F, const TPlotScene& S)
{
    const auto u = [&F](int K) { return F.U(K); };
    C.Brush.Color = clWhite;
    C.FillRect(Box);
    const TRect& a = F.Area;
    if (S.BandFrom != S.BandTo) {
        C.Brush.Color = RGB(220, 230, 255);
        C.FillRect({std::max(a.Left, std::min(S.BandFrom, S.BandTo)), a.Top,
                    std::min(a.Right, std::max(S.BandFrom, S.BandTo)), a.Bottom});
        C.Brush.Color = clWhite;
    }
    C.Brush.Color = RGB(255, 215, 215);
    for (const auto& [from, to] : S.AlertBands) {
        const int l = std::max(a.Left, F.XPixel(from)), r = std::min(a.Right, F.XPixel(to) + 1);
        if (l < r) C.FillRect({l, a.Top, r, a.Bottom});
    }
    C.Brush.Color = clWhite;
    Axes(C, Box, F, S.XTitle, S.YTitle);
    if (S.FillCurve >= 0 && S.FillCurve < static_cast<int>(S.Curves.size()))
        FillUnder(C, F, S.Curves[static_cast<std::size_t>(S.FillCurve)]);
    if (S.Rainbow) RainbowBand(C, F);
    LineMarkers(C, F, S.LineMarkers);
    int legendY = a.Top + u(4);
    for (const TPlotCurve& curve : S.Curves) {
        C.Pen.Color = curve.Color;
        const std::size_t n = std::min(curve.X.size(), curve.Y.size());
        for (std::size_t i = 1; i < n; ++i)
            ClippedLine(C, a, F.XPixel(curve.X[i - 1]), F.YPixel(curve.Y[i - 1]), F.XPixel(curve.X[i]),
                        F.YPixel(curve.Y[i]));
        if (n == 1)
            ClippedLine(C, a, F.XPixel(curve.X[0]), F.YPixel(curve.Y[0]), F.XPixel(curve.X[0]), F.YPixel(curve.Y[0]));
        if (curve.Name.empty()) continue;
        const TPoint e = C.TextExtent(curve.Name);
        const int x = a.Right - u(8) - e.X;
        C.MoveTo(x - u(24), legendY + e.Y / 2);
        C.LineTo(x - u(4), legendY + e.Y / 2);
        C.Font.Color = curve.Color;
        C.TextOut(x, legendY, curve.Name);
        legendY += e.Y + u(2);
    }
    C.Font.Color = clBlue;
    for (const TPlotMark& m : S.Marks) {
        const int x = F.XPixel(m.X), y = F.YPixel(m.Y);
        if (!F.Contains(x, std::max(y, a.Top))) continue;
        C.Pen.Color = clBlue;
        ClippedLine(C, a, x, y - u(4), x, y - u(14));
        const TPoint e = C.TextExtent(m.Label);
        C.TextOut(x - e.X / 2, std::max(a.Top, y - u(16) - e.Y), m.Label);
    }
    for (const TPlotScene::TDot& d : S.Dots) {
        const int px = F.XPixel(d.X), py = F.YPixel(d.Y);
        if (!F.Contains(px, py)) continue;
        C.Pen.Color = C.Brush.Color = d.Color;
        C.Rectangle(px - u(2), py - u(2), px + u(3), py + u(3));
    }
    C.Pen.Color = C.Brush.Color = RGB(200, 0, 0);
    for (const auto& [x, y] : S.AlertPoints) {
        const int px = F.XPixel(x), py = std::clamp(F.YPixel(y), a.Top + u(2), a.Bottom - u(3));
        if (px < a.Left || px >= a.Right) continue;
        C.Rectangle(px - u(2), py - u(2), px + u(3), py + u(3));
    }
    C.Brush.Color = clWhite;
    if (F.Contains(S.Cross.X, S.Cross.Y)) {
        C.Pen.Color = clGray;
        C.MoveTo(a.Left, S.Cross.Y);
        C.LineTo(a.Right, S.Cross.Y);
        C.MoveTo(S.Cross.X, a.Top);
        C.LineTo(S.Cross.X, a.Bottom);
    }
}

}  // namespace

void DrawPlot(TCanvas& C, int W, int H, const TPlotFrame& F, const TPlotScene& S) { DrawScene(C, {0, 0, W, H}, F, S); }

void DrawPlot(TPageCanvas& C, const TRect& Box, const TPlotFrame& F, const TPlotScene& S) { DrawScene(C, Box, F, S); }
