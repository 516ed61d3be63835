# Little CMS is the oracle for the CIE conversions; the core never links it.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::LCMS2)
  pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
endif()
target_link_libraries(${target} PRIVATE PkgConfig::LCMS2)
