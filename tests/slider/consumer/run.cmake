# Installs the slider package into a fresh prefix, then configures, builds and runs the consumer
# against it. Arguments: -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DCOMPILER=
file(REMOVE_RECURSE ${WORK_DIR})
foreach(component SliderDevelopment Slider)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix --component ${component}
        RESULT_VARIABLE rc)
    if(rc)
        message(FATAL_ERROR "install of ${component} failed")
    endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix
    -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_BUILD_TYPE=Release RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND ${WORK_DIR}/build/slider-consumer RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "the consumer failed")
endif()
