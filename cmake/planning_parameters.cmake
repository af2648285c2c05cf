# cmake -DSOURCE=04-parameters.js -DOUTPUT=planning_parameters.h -P planning_parameters.cmake
# Writes the planner component's table of planning parameters (the JSON between its marker lines) as a C++ header,
# so the workspace settings form checks exactly what the component accepts.
file(READ ${SOURCE} text)
string(REGEX MATCH "// planning-parameters-begin\n(.*)\n// planning-parameters-end" found "${text}")
if(NOT found)
  message(FATAL_ERROR "${SOURCE}: the planning parameters' marker lines are missing")
endif()
set(json "${CMAKE_MATCH_1}")

# A JSON string member as a C++ string literal.
function(literal out path)
  string(JSON value ERROR_VARIABLE error GET "${json}" ${path})
  if(error)
    message(FATAL_ERROR "${SOURCE}: ${error}")
  endif()
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# A JSON number member as it is written.
function(number out path)
  string(JSON type ERROR_VARIABLE error TYPE "${json}" ${path})
  if(error OR NOT type STREQUAL "NUMBER")
    message(FATAL_ERROR "${SOURCE}: ${path} must be a number")
  endif()
  string(JSON value GET "${json}" ${path})
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

string(JSON count ERROR_VARIABLE error LENGTH "${json}" parameters)
if(error OR count EQUAL 0)
  message(FATAL_ERROR "${SOURCE}: no planning parameters (${error})")
endif()
math(EXPR last "${count} - 1")
set(rows "")
foreach(i RANGE ${last})
  literal(key "parameters;${i};key")
  literal(title "parameters;${i};title")
  number(low "parameters;${i};low")
  number(high "parameters;${i};high")
  string(APPEND rows "    {${key}, ${title}, ${low}, ${high}},\n")
endforeach()
literal(message "rangeMessage")

get_filename_component(source_name ${SOURCE} NAME)
set(header "// Generated at build time from the planner component's ${source_name}. Do not edit.
#pragma once

namespace dorvik::PlanningParameters {

struct Parameter {
  const char* key;
  const char* title;
  double low, high;
};

// In the component's order.
inline constexpr Parameter kParameters[] = {
${rows}};

// The one message for any value outside its range.
inline constexpr const char* kRangeMessage = ${message};

}  // namespace dorvik::PlanningParameters
")
file(WRITE ${OUTPUT}.tmp "${header}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
