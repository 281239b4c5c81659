;;; eglot as a user meets the language server: the configuration the README shows, loaded
;;; as it is, opens a plug-in file; its findings must reach flymake and a completion must
;;; offer a class of the tree.
;;;
;;; Run by eglot_test.sh as `emacs --batch -f package-activate-all -l CONFIG -l
;;; eglot_client_test.el' (packages activated as an interactive Emacs does at its start), with
;;;   CORVANE_PLUGIN_FILE  the plug-in file to open (tests/fixtures/editors/Editor.xml, copied)
;;;   CORVANE_FEATURE      diagnostics or completion
;;;   CORVANE_RESULTS      where to write what happened, one line per check
;;; Exits 0 when every check passed, 77 when the server does not advertise the feature, 1
;;; else. Every wait is bounded.

(require 'cl-lib)

(defvar corvane-failed nil)

(defun corvane-say (line)
  (write-region (concat line "\n") nil (getenv "CORVANE_RESULTS") 'append 'silent))

(defun corvane-check (ok what &optional detail)
  (corvane-say (if ok (concat "ok   " what) (format "FAIL %s: %S" what detail)))
  (unless ok (setq corvane-failed t))
  ok)

(defun corvane-wait (seconds condition)
  "Reads the server's messages until CONDITION holds or SECONDS pass; the last value of CONDITION."
  (let ((end (+ (float-time) seconds)) value)
    (while (and (not (setq value (funcall condition))) (< (float-time) end))
      (accept-process-output nil 0.05))
    value))

(defun corvane-diagnostic-keys ()
  "Lines (from 1) and codes of the buffer's flymake diagnostics, sorted.
eglot writes a diagnostic as \"SOURCE [CODE]: MESSAGE\"."
  (sort (mapcar (lambda (d)
                  (let ((text (flymake-diagnostic-text d)))
                    (format "%d %s" (line-number-at-pos (flymake-diagnostic-beg d))
                            (if (string-match "\\[\\(Msg[0-9]+\\)\\]" text) (match-string 1 text) text))))
                (flymake-diagnostics))
        #'string<))

(defconst corvane-expected '("11 Msg007" "12 Msg006" "15 Msg009" "19 Msg008" "9 Msg003")
  "The fixture's findings: lines from 1 and codes, sorted.")

(defun corvane-wait-for-diagnostics ()
  (flymake-start)
  (corvane-wait 15 (lambda () (= (length (flymake-diagnostics)) (length corvane-expected)))))

(defun corvane-diagnostics ()
  (corvane-wait-for-diagnostics)
  (corvane-check (equal (corvane-diagnostic-keys) corvane-expected) "the findings reach flymake"
                 (corvane-diagnostic-keys)))

(defun corvane-completion ()
  ;; The first findings say the server has read the tree; the question comes after them.
  (corvane-wait-for-diagnostics)
  ;; Inside the value of the second task's object-type-name.
  (goto-char (point-min))
  (forward-line 19)
  (search-forward "<object-type-name>")
  (let* ((capf (eglot-completion-at-point))
         (candidates (and capf (all-completions "" (nth 2 capf)))))
    (corvane-check (member "User" candidates) "a completion offers the class User"
                   (length candidates))))

(defun corvane-run ()
  (let ((feature (getenv "CORVANE_FEATURE")))
    (find-file (getenv "CORVANE_PLUGIN_FILE"))
    (corvane-check (eq major-mode 'nxml-mode) "the plug-in file is in nxml-mode" major-mode)
    ;; eglot-ensure connects after the command that opened the file; here no command loop runs.
    (run-hooks 'post-command-hook)
    (let ((server (corvane-wait 15 (lambda () (and eglot--managed-mode (eglot-current-server))))))
      (cond
       ((not (corvane-check server "eglot manages the buffer")) 1)
       ((and (equal feature "completion") (not (eglot--server-capable :completionProvider)))
        (corvane-say "SKIP completion: the server does not advertise completionProvider")
        77)
       (t (funcall (intern (concat "corvane-" feature)))
          (ignore-errors (eglot-shutdown server nil 5))
          (if corvane-failed 1 0))))))

(kill-emacs (condition-case err
                (corvane-run)
              (error (corvane-say (format "FAIL error: %S" err)) 1)))
