# Attaches the program's resources (translations, font, pictures) to a target.
function(velqora_add_resources target)
    qt_add_translations(${target}
        TS_FILES ${VELQORA_TS_FILES}
        RESOURCE_PREFIX "/"
        LRELEASE_OPTIONS -silent)

    set(files ${VELQORA_GENERATED_FONT} ${VELQORA_GENERATED_LOGOS} ${VELQORA_GENERATED_ANIMATION})
    set_source_files_properties(${VELQORA_GENERATED_ANIMATION}
        PROPERTIES QT_RESOURCE_ALIAS "img/icon/waiting.gif" GENERATED TRUE)
    set_source_files_properties(${VELQORA_GENERATED_FONT}
        PROPERTIES QT_RESOURCE_ALIAS "font/NotoSansSC-Medium.ttf" GENERATED TRUE)
    list(GET VELQORA_GENERATED_LOGOS 0 navigate)
    list(GET VELQORA_GENERATED_LOGOS 1 version)
    set_source_files_properties(${navigate}
        PROPERTIES QT_RESOURCE_ALIAS "img/assets/Korvane logo_navigate.png" GENERATED TRUE)
    set_source_files_properties(${version}
        PROPERTIES QT_RESOURCE_ALIAS "img/assets/Korvane logo_ system-version.png" GENERATED TRUE)

    file(GLOB_RECURSE svgs RELATIVE ${VELQORA_RESOURCE_DIR}
        ${VELQORA_RESOURCE_DIR}/img/*.svg ${VELQORA_RESOURCE_DIR}/img/*.gif
        ${VELQORA_RESOURCE_DIR}/style/*.qss ${VELQORA_RESOURCE_DIR}/about/*.html)
    foreach(f ${svgs})
        set(abs ${VELQORA_RESOURCE_DIR}/${f})
        set_source_files_properties(${abs} PROPERTIES QT_RESOURCE_ALIAS "${f}")
        list(APPEND files ${abs})
    endforeach()

    qt_add_resources(${target} "velqora_assets" PREFIX "/" FILES ${files}
        OUTPUT_TARGETS resource_targets)
    # The font and pictures are made by custom commands in resources/; a file
    # made in another folder is only a name to the rcc step (Makefiles know
    # no rule for it), so every target that compiles them waits for the target
    # that makes them. A static library gets its own resource object library.
    foreach(t ${target} ${resource_targets})
        add_dependencies(${t} velqora_generated_resources)
    endforeach()
endfunction()
