#pragma once

// The shared image lists: small and large images in their normal, highlighted
// and disabled forms, and the button lists built from them.

#include <QList>
#include <QObject>
#include <QPixmap>
#include <memory>

class QAbstractButton;

class TImageList {
public:
    explicit TImageList(const QString& name, int size) : FName(name), FSize(size) {}
    const QString& Name() const { return FName; }
    int Size() const { return FSize; }
    int Count() const { return int(FImages.size()); }
    void Add(const QPixmap& image) { FImages.append(image); }
    QPixmap Image(int index) const { return FImages.value(index); }

private:
    QString FName;
    int FSize;
    QList<QPixmap> FImages;
};

class TImagesModule : public QObject {
    Q_OBJECT
public:
    explicit TImagesModule(QObject* owner = nullptr);
    ~TImagesModule() override;

    TImageList SmallNormal{QStringLiteral("SmallNormal"), 16};
    TImageList SmallSelected{QStringLiteral("SmallSelected"), 16};
    TImageList SmallDisabled{QStringLiteral("SmallDisabled"), 16};
    TImageList BigNormal{QStringLiteral("BigNormal"), 32};
    TImageList BigDisabled{QStringLiteral("BigDisabled"), 32};
    TImageList ButtonImages{QStringLiteral("ButtonImages"), 16};
    TImageList BigButtonImages{QStringLiteral("BigButtonImages"), 32};

    // Gives a button that names an image list and index (properties
    // "ImageList" and "ImageIndex") its normal, hot and disabled images.
    void SetupButtonImages(QAbstractButton* button);
    // Gives a button an image of a list (by name), then sets it up.
    void SetButtonImage(QAbstractButton* button, const TImageList& list, int index);
    // The login banner picture.
    void LoadMainLogoBackground(QPixmap& picture) const;
    // An action's icon from the big list (normal, hot and disabled forms).
    QIcon BigIcon(int index) const;

    TImageList* ListByName(const QString& name);
    // The hot form of a large image: brightness raised by 4 per cent.
    static QImage Lighten(const QImage& image);
};

extern std::unique_ptr<TImagesModule> ImagesModule;
