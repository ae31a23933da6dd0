#pragma once
// The engine never calls into the application on its own threads: every report goes through the
// caller's dispatch function (which typically posts to the UI thread). An empty one calls directly.

#include <functional>

namespace media {

using Dispatch = std::function<void(std::function<void()>)>;

}  // namespace media
