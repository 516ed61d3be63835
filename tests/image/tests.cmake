# libtiff writes the fixtures the reader is checked against; the reader
# itself never links it.
find_package(TIFF REQUIRED)
target_link_libraries(${target} PRIVATE TIFF::TIFF)
