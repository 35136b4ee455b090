#include "Common/Images/Ui/ImagesModule.h"

#include "Platform/Runtime/Exception.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>

std::unique_ptr<TImagesModule> ImagesModule;

namespace {

// The large images by index; the small list holds the same pictures.
// 0 cancel, 9 local folder, 10 help, 12 login, 14 start client,
// 15 connect, 16 disconnect, 17 system information, 18 tickets,
// 19 administration, 20 network.
QStyle::StandardPixmap StandardImage(int index) {
    switch (index) {
    case 0:
        return QStyle::SP_DialogCancelButton;
    case 1:
        return QStyle::SP_DialogOkButton;
    case 2:
        return QStyle::SP_DialogSaveButton;
    case 3:
        return QStyle::SP_DialogOpenButton;
    case 4:
        return QStyle::SP_TrashIcon;
    case 5:
        return QStyle::SP_BrowserReload;
    case 6:
        return QStyle::SP_MessageBoxWarning;
    case 7:
        return QStyle::SP_MessageBoxInformation;
    case 8:
        return QStyle::SP_MessageBoxCritical;
    case 9:
        return QStyle::SP_DirOpenIcon;
    case 10:
        return QStyle::SP_DialogHelpButton;
    case 11:
        return QStyle::SP_FileDialogDetailedView;
    case 12:
        return QStyle::SP_DialogApplyButton;
    case 13:
        return QStyle::SP_ArrowRight;
    case 14:
        return QStyle::SP_MediaPlay;
    case 15:
        return QStyle::SP_DialogYesButton;
    case 16:
        return QStyle::SP_DialogNoButton;
    case 17:
        return QStyle::SP_ComputerIcon;
    case 18:
        return QStyle::SP_FileDialogContentsView;
    case 19:
        return QStyle::SP_DesktopIcon;
    case 20:
        return QStyle::SP_DriveNetIcon;
    default:
        return QStyle::SP_FileIcon;
    }
}
constexpr int kImageCount = 21;

QPixmap Render(int index, int size, QIcon::Mode mode) {
    const QIcon icon = QApplication::style()->standardIcon(StandardImage(index));
    QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0, mode);
    if (pixmap.isNull() || pixmap.size() != QSize(size, size)) {
        QPixmap canvas(size, size);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        if (!pixmap.isNull())
            p.drawPixmap(canvas.rect(), pixmap);
        p.end();
        pixmap = canvas;
    }
    return pixmap;
}

} // namespace

TImagesModule::TImagesModule(QObject* owner) : QObject(owner) {
    setObjectName(QStringLiteral("ImagesModule"));
    for (int i = 0; i < kImageCount; ++i) {
        SmallNormal.Add(Render(i, 16, QIcon::Normal));
        SmallSelected.Add(QPixmap::fromImage(Lighten(Render(i, 16, QIcon::Normal).toImage())));
        SmallDisabled.Add(Render(i, 16, QIcon::Disabled));
        BigNormal.Add(Render(i, 32, QIcon::Normal));
        BigDisabled.Add(Render(i, 32, QIcon::Disabled));
    }
    TV_ASSERT(SmallNormal.Count() == SmallSelected.Count() &&
              SmallNormal.Count() == SmallDisabled.Count());
    TV_ASSERT(BigNormal.Count() == BigDisabled.Count());
    for (const TImageList* list : {&SmallNormal, &SmallSelected, &SmallDisabled})
        for (int i = 0; i < list->Count(); ++i)
            ButtonImages.Add(list->Image(i));
    for (int i = 0; i < BigNormal.Count(); ++i)
        BigButtonImages.Add(BigNormal.Image(i));
    for (int i = 0; i < BigNormal.Count(); ++i)
        BigButtonImages.Add(QPixmap::fromImage(Lighten(BigNormal.Image(i).toImage())));
    for (int i = 0; i < BigDisabled.Count(); ++i)
        BigButtonImages.Add(BigDisabled.Image(i));
}

TImagesModule::~TImagesModule() = default;

QImage TImagesModule::Lighten(const QImage& image) {
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const int alpha = qAlpha(line[x]);
            if (alpha == 0)
                continue; // the transparent colour stays
            QColor c = QColor::fromRgb(line[x]).toHsl();
            // 40 on a scale of 1000: 4 per cent of the full lightness range.
            const int lightness = std::min(255, c.lightness() + 255 * 40 / 1000);
            c.setHsl(c.hslHue(), c.hslSaturation(), lightness, alpha);
            line[x] = c.rgba();
        }
    }
    return result;
}

TImageList* TImagesModule::ListByName(const QString& name) {
    for (TImageList* list : {&SmallNormal, &SmallSelected, &SmallDisabled, &BigNormal, &BigDisabled,
                             &ButtonImages, &BigButtonImages})
        if (list->Name() == name)
            return list;
    return nullptr;
}

void TImagesModule::SetupButtonImages(QAbstractButton* button) {
    TV_ASSERT(button != nullptr);
    const QString listName = button->property("ImageList").toString();
    bool ok = false;
    const int index = button->property("ImageIndex").toInt(&ok);
    TImageList* list = ListByName(listName);
    if (list == nullptr || !ok || index == -1)
        return;
    if (list == &SmallNormal)
        list = &ButtonImages;
    else if (list == &BigNormal)
        list = &BigButtonImages;
    const int n = list->Count();
    const int hot = n / 3 + index;
    const int disabled = n / 3 * 2 + index;
    button->setProperty("ImageList", list->Name());
    button->setProperty("HotImageIndex", hot);
    button->setProperty("DisabledImageIndex", disabled);
    QIcon icon;
    icon.addPixmap(list->Image(index), QIcon::Normal);
    icon.addPixmap(list->Image(hot), QIcon::Active);
    icon.addPixmap(list->Image(hot), QIcon::Selected);
    icon.addPixmap(list->Image(disabled), QIcon::Disabled);
    button->setIcon(icon);
    button->setIconSize(QSize(list->Size(), list->Size()));
}

void TImagesModule::SetButtonImage(QAbstractButton* button, const TImageList& list, int index) {
    button->setProperty("ImageList", list.Name());
    button->setProperty("ImageIndex", index);
    SetupButtonImages(button);
}

QIcon TImagesModule::BigIcon(int index) const {
    QIcon icon;
    icon.addPixmap(BigNormal.Image(index), QIcon::Normal);
    icon.addPixmap(BigButtonImages.Image(BigNormal.Count() + index), QIcon::Active);
    icon.addPixmap(BigDisabled.Image(index), QIcon::Disabled);
    return icon;
}

void TImagesModule::LoadMainLogoBackground(QPixmap& picture) const {
    picture.load(QStringLiteral(":/images/MAINLOGO"), "JPEG");
}
