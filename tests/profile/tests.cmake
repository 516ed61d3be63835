# Little CMS is the oracle that applies the profiles of the accuracy test.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::LCMS2)
  pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
endif()
target_link_libraries(${target} PRIVATE PkgConfig::LCMS2)
