from setuptools import Extension, setup

setup(ext_modules=[Extension("nativepkg._answer", ["src/answer.c"])])
