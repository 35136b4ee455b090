#pragma once

// Exception information with a screenshot of the program at the moment of
// the error.

#include "Common/Error/ExceptionInfo.h"

#include <QImage>

class TExImgInfo : public TExceptionInfo {
public:
    TExImgInfo() = default;
    // The bitmap owned by this object; empty at creation.
    const QImage& Image() const { return FImage; }
    // Copies the given bitmap.
    void SetImage(const QImage& image) { FImage = image.copy(); }

protected:
    QImage FImage;
};
