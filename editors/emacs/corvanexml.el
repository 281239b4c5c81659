;; corvanexml-check as the language server of XML files, with eglot (Emacs 28 and later).
;; Put it in your init file, or load it from there.
(with-eval-after-load 'eglot
  ;; Add "--tree" "NAME" or "--schema" "FILE" to check against another tree.
  (add-to-list 'eglot-server-programs '(nxml-mode . ("corvanexml-check" "--lsp"))))
(add-hook 'nxml-mode-hook #'eglot-ensure)
