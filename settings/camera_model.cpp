#include "settings/camera_model.h"

namespace nerova::settings {

const CameraModel* FindCameraModel(std::wstring_view name) {
  for (const CameraModel& model : kCameraModels) {
    if (model.name == name) return &model;
  }
  return nullptr;
}

const CameraModel* ModelForStoredUrl(std::wstring_view url) {
  if (url == kCameraModels[1].defaultUrl) return &kCameraModels[1];
  if (url == kCameraModels[0].defaultUrl) return &kCameraModels[0];
  return nullptr;
}

std::wstring UrlToWrite(std::wstring_view mode, std::wstring_view model, std::wstring_view typedUrl) {
  if (mode != kModeAuto) return std::wstring(typedUrl);
  const CameraModel* chosen = FindCameraModel(model);
  return chosen ? std::wstring(chosen->defaultUrl) : std::wstring();
}

}  // namespace nerova::settings
