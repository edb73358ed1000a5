[build-system]
requires = ["setuptools>=77"]
build-backend = "setuptools.build_meta"

[project]
name = "{name}"
version = "0.1.0"
description = "{description}"
requires-python = "{python_version}"
license = "{license_spdx}"
authors = [{{ name = "{author_name}", email = "{author_email}" }}]
maintainers = [{{ name = "{author_name}", email = "{author_email}" }}]
keywords = ["{name}"]
classifiers = [
  "Development Status :: 3 - Alpha",
  "Intended Audience :: Developers",
  "Operating System :: OS Independent",
  "Programming Language :: Python :: 3",
  "Programming Language :: Python :: 3 :: Only",
  "Programming Language :: Python :: 3.11",
  "Programming Language :: Python :: 3.12",
  "Programming Language :: Python :: 3.13",
]
dependencies = []

[project.optional-dependencies]
test = ["pytest>=8"]

[tool.setuptools.packages.find]
where = ["."]
include = ["{name}", "{name}.*"]
exclude = ["tests*", "build*", "dist*"]

[tool.tolvo]
# Skip the install steps that .venv already satisfies; "always" runs them all.
refresh = "when-needed"
# Make .venv without the host's site-packages, so that only what the project
# declares is installed and imported.
system-site-packages = false

[tool.pytest.ini_options]
addopts = ["--strict-markers"]
xfail_strict = true

[tool.ruff]
line-length = 100
exclude = [".venv", ".git", "build", "dist", "wheelhouse", "*.egg-info"]

[tool.ruff.lint]
select = ["E", "F", "W", "I", "B", "UP"]

[tool.pyright]
exclude = [".venv", ".git", "build", "dist", "wheelhouse", "**/__pycache__"]
pythonVersion = "3.11"
