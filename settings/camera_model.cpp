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

}  // namespace nerova::settings
