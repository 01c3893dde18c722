# Builds and runs the slider consumer. MODE package: installs the slider into a fresh prefix and
# finds it there. MODE subproject: takes the sources in through FetchContent, under a project
# with a version of its own (configured only), then under one without (built and run).
# Arguments: -DMODE= -DBUILD_DIR= -DSOURCE_DIR= -DCOMKEYS_SOURCE_DIR= -DSLIDER_VERSION= -DWORK_DIR= -DCOMPILER=
macro(step what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
    if(rc)
        message(FATAL_ERROR "${what} failed")
    endif()
endmacro()
file(REMOVE_RECURSE ${WORK_DIR})
set(configure ${CMAKE_COMMAND} -S ${SOURCE_DIR} -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_BUILD_TYPE=Release)
if(MODE STREQUAL package)
    foreach(component SliderDevelopment Slider)
        step("install of ${component}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix --component ${component})
    endforeach()
    step("configuring the consumer" ${configure} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
else()
    set(configure ${configure} -DCOMKEYS_SOURCE_DIR=${COMKEYS_SOURCE_DIR} -DSLIDER_VERSION=${SLIDER_VERSION})
    step("configuring a consumer with a version" ${configure} -B ${WORK_DIR}/versioned -DCONSUMER_VERSION=7.1)
    step("configuring a consumer without a version" ${configure} -B ${WORK_DIR}/build)
endif()
step("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build --target slider-consumer)
step("the consumer" ${WORK_DIR}/build/slider-consumer)
