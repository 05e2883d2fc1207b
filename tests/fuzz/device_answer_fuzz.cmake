set(FUZZ_LIBS zrdevice)
