# The address catalogue geocoder.sqlite of the core bundle, built from catalogue/addresses.tsv by
# catalogue/build_catalogue.cpp. Its address_key column is computed by the assembled GeocodingCore.js itself, so the
# catalogue is rebuilt whenever the source, the component or the builder changes.
add_executable(dorvik_build_catalogue ${CMAKE_CURRENT_SOURCE_DIR}/catalogue/build_catalogue.cpp)
target_link_libraries(dorvik_build_catalogue PRIVATE dorvik_core SQLite::SQLite3)

set(DORVIK_CATALOGUE_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/catalogue/addresses.tsv)
add_custom_command(OUTPUT ${DORVIK_CORE_RESOURCES}/geocoder.sqlite
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DORVIK_CORE_RESOURCES}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:dorvik_build_catalogue> --strict ${DORVIK_CORE_RESOURCES}/GeocodingCore.js
          ${DORVIK_CATALOGUE_SOURCE} ${DORVIK_CORE_RESOURCES}/geocoder.sqlite
  DEPENDS dorvik_build_catalogue ${DORVIK_CATALOGUE_SOURCE} ${DORVIK_CORE_RESOURCES}/GeocodingCore.js
  COMMENT "Building the address catalogue geocoder.sqlite")
set(DORVIK_CATALOGUE_OUTPUTS ${DORVIK_CORE_RESOURCES}/geocoder.sqlite)
