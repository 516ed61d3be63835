# libtiff, libpng and libjpeg-turbo write the fixtures the reader is checked
# against and decode them as the oracles of what the reader must deliver.
find_package(TIFF REQUIRED)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
target_link_libraries(${target} PRIVATE TIFF::TIFF PNG::PNG JPEG::JPEG)
# Real photographs of charts are read from the shared data beside the
# checkout, never copied into it.
get_filename_component(_shared_photos_dir "${PROJECT_SOURCE_DIR}/../shared/real-photos" ABSOLUTE)
target_compile_definitions(${target} PRIVATE CALIVANT_REAL_PHOTOS_DIR="${_shared_photos_dir}")
